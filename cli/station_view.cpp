#include "cli/station_view.h"

#include <algorithm>

namespace veltrix::cli {
namespace {

void PutLine(std::FILE* f, const std::string& prefix, const std::string& text) {
    std::fputs(prefix.c_str(), f);
    std::fputs(text.c_str(), f);
    if (text.empty() || text.back() != '\n') {
        std::fputc('\n', f);
    }
}

// A message box's text on one line: its sentences joined, blanks trimmed.
std::string OneLine(const std::string& text) {
    std::string line;
    bool blank = false;
    for (const char c : text) {
        const bool space = c == '\n' || c == ' ';
        if (space && !line.empty()) {
            blank = true;
        } else if (!space) {
            line += blank ? std::string(" ") + c : std::string(1, c);
            blank = false;
        }
    }
    return line;
}

}  // namespace

StationOutput::StationOutput(std::FILE* out, std::FILE* err, bool live,
                             const std::vector<int>& ports)
    : out_(out), err_(err), live_(live) {
    for (const int port : ports) {
        prefixes_.push_back("COM" + std::to_string(port) + ": ");
        liveLines_.push_back("COM" + std::to_string(port) + "  waiting");
    }
}

// The live lines sit below everything else on standard error: they are taken away before a
// line is written and drawn again after it.
void StationOutput::EraseLive() {
    for (; liveShown_ > 0; --liveShown_) {
        std::fputs("\x1b[1A\x1b[2K", err_);
    }
}

void StationOutput::DrawLive() {
    if (!live_) {
        return;
    }
    for (const std::string& line : liveLines_) {
        std::fputs(line.c_str(), err_);
        std::fputc('\n', err_);
    }
    liveShown_ = liveLines_.size();
    std::fflush(err_);
}

void StationOutput::OutLine(size_t board, const std::string& text) {
    std::lock_guard lock(mutex_);
    EraseLive();
    std::fflush(err_);
    PutLine(out_, prefixes_.at(board), text);
    if (std::fflush(out_) != 0 || std::ferror(out_)) {
        outFailed_ = true;
    }
    DrawLive();
}

void StationOutput::ErrLine(size_t board, const std::string& text) {
    std::lock_guard lock(mutex_);
    EraseLive();
    PutLine(err_, prefixes_.at(board), text);
    DrawLive();
}

void StationOutput::Note(const std::string& text) {
    std::lock_guard lock(mutex_);
    EraseLive();
    PutLine(err_, "", text);
    DrawLive();
}

void StationOutput::Live(size_t board, const std::string& step, int percent,
                         const std::string& rate) {
    std::lock_guard lock(mutex_);
    std::string line = prefixes_.at(board).substr(0, prefixes_.at(board).size() - 2);
    line += "  " + (step.empty() ? std::string("running") : step);
    line += "  " + std::to_string(percent) + "%";
    if (!rate.empty()) {
        line += "  " + rate;
    }
    // A live line never wraps: the terminal could not take it back.
    constexpr size_t kWidth = 79;
    liveLines_.at(board) = line.size() > kWidth ? line.substr(0, kWidth) : line;
    if (live_) {
        EraseLive();
        DrawLive();
    }
}

void StationOutput::EndLive() {
    std::lock_guard lock(mutex_);
    EraseLive();
    live_ = false;
    std::fflush(err_);
}

bool StationOutput::OutFailed() const {
    std::lock_guard lock(mutex_);
    return outFailed_;
}

void BoardView::InsertLogLine(int, const std::string& text) {
    output_.OutLine(board_, text);
}

// A station never waits for the operator: the box is a line, and the record keeps it.
void BoardView::ShowMessage(const std::string& text) {
    output_.ErrLine(board_, "message: " + OneLine(text));
}

void BoardView::PushStatus(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        if (text.empty()) {
            return;
        }
        step_ = text;
    }
    ShowLive();
}

void BoardView::SetProgress(int percent) {
    {
        std::lock_guard lock(mutex_);
        percent_ = std::clamp(percent, 0, 100);
        if (percent_ == 0) {
            meter_.Reset();
            rate_.clear();
        }
    }
    ShowLive();
}

void BoardView::SetTransfer(uint64_t done, uint64_t total) {
    std::lock_guard lock(mutex_);
    rate_ = meter_.Update(done, total, std::chrono::steady_clock::now());
}

void BoardView::ShowLive() {
    std::string step, rate;
    int percent = 0;
    {
        std::lock_guard lock(mutex_);
        step = step_;
        rate = rate_;
        percent = percent_;
    }
    output_.Live(board_, step, percent, rate);
}

void BoardView::RunEnded() {
    std::lock_guard lock(mutex_);
    ended_ = true;
}

bool BoardView::Ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

BoardConsole::BoardConsole(StationOutput& output, size_t board)
    : std::ostream(&buffer_), buffer_(output, board) {}

BoardConsole::Buffer::int_type BoardConsole::Buffer::overflow(int_type c) {
    if (c == traits_type::eof()) {
        return traits_type::not_eof(c);
    }
    const char ch = traits_type::to_char_type(c);
    if (ch == '\n') {
        if (!line_.empty()) {
            output_.OutLine(board_, line_);
        }
        line_.clear();
    } else if (ch == '\r') {
        line_.clear();  // a running count, overwritten by the next
    } else {
        line_ += ch;
    }
    return c;
}

}  // namespace veltrix::cli
