#include "cli/terminal_view.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/console.h"

namespace veltrix::cli {
namespace {

constexpr int kBarWidth = 40;

// Run-log lines mostly carry their own line feed; the few that do not still get a line of
// their own on a terminal.
void PutLine(std::FILE* f, const std::string& text) {
    std::fputs(text.c_str(), f);
    if (text.empty() || text.back() != '\n') {
        std::fputc('\n', f);
    }
    std::fflush(f);
}

// "  1m05s left" from the time the bar took to reach `percent`; blank until it says something.
std::string TimeLeft(std::chrono::steady_clock::duration spent, int percent) {
    if (percent <= 0 || percent >= 100) {
        return std::string(14, ' ');
    }
    const double seconds = std::chrono::duration<double>(spent).count();
    const long left = static_cast<long>(seconds * (100 - percent) / percent + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "  %ldm%02lds left", left / 60, left % 60);
    return text;
}

}  // namespace

TerminalView::TerminalView(std::FILE* out, std::FILE* err, bool interactive, std::FILE* in)
    : out_(out),
      err_(err),
      in_(in),
      interactive_(interactive),
      progressStart_(std::chrono::steady_clock::now()) {}

void TerminalView::InsertLogLine(int position, const std::string& text) {
    std::lock_guard lock(mutex_);
    EndProgressLine();
    const size_t at = position < 0 ? 0 : std::min<size_t>(position, lines_.size());
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), text);
    // A line that replaces a live line (the DDR wait) is printed again: a terminal cannot
    // rewrite a line that later output has scrolled past.
    PutLine(out_, text);
    if (std::ferror(out_) && outError_ == 0) {
        outError_ = errno != 0 ? errno : EIO;
    }
}

void TerminalView::DeleteLogLine(int position) {
    std::lock_guard lock(mutex_);
    if (position >= 0 && static_cast<size_t>(position) < lines_.size()) {
        lines_.erase(lines_.begin() + position);
    }
}

void TerminalView::ShowMessage(const std::string& text) {
    const bool wait = interactive_ && !messagesClosed_;
    {
        std::lock_guard lock(mutex_);
        EndProgressLine();
        std::fputs("\n---- message ----\n", err_);
        PutLine(err_, text);
        std::fputs("-----------------\n", err_);
        if (wait) {
            std::fputs("Press Enter to continue.", err_);
        }
        std::fflush(err_);
    }
    // The wait holds no lock: the front end goes on watching for a cancel meanwhile.
    if (wait && !WaitForEnter(in_, messagesClosed_)) {
        std::lock_guard lock(mutex_);
        std::fputs("\n", err_);
        std::fflush(err_);
    }
}

void TerminalView::PushStatus(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (text.empty()) {
        return;
    }
    EndProgressLine();
    PutLine(err_, "status: " + text);
}

void TerminalView::Error(const std::string& text) {
    std::lock_guard lock(mutex_);
    EndProgressLine();
    PutLine(err_, "veltrix-cli: " + text);
}

void TerminalView::Note(const std::string& text) {
    std::lock_guard lock(mutex_);
    EndProgressLine();
    PutLine(err_, text);
}

bool TerminalView::CheckOutput() {
    std::lock_guard lock(mutex_);
    errno = 0;
    if ((std::fflush(out_) != 0 || std::ferror(out_)) && outError_ == 0) {
        outError_ = errno != 0 ? errno : EIO;
    }
    if (outError_ != 0 && !outErrorSaid_) {
        EndProgressLine();
        PutLine(err_, std::string("veltrix-cli: standard output cannot be written (") +
                          std::strerror(outError_) + ")");
        outErrorSaid_ = true;
    }
    return outError_ != 0;
}

void TerminalView::SetProgress(int percent) {
    std::lock_guard lock(mutex_);
    percent = std::clamp(percent, 0, 100);
    const auto now = std::chrono::steady_clock::now();
    if (percent == 0 || percent < lastPercent_) {
        progressStart_ = now;  // a new read begins
    }
    lastPercent_ = percent;
    if (!IsTerminal(err_)) {
        return;
    }
    const int filled = percent * kBarWidth / 100;
    // Bytes under way give the rate and a steadier time left than the percentage alone.
    const std::string after = !rateText_.empty() && percent < 100
                                  ? "  " + rateText_ + "    "
                                  : TimeLeft(now - progressStart_, percent);
    std::fprintf(err_, "\r[%s%s] %3d%%%s", std::string(filled, '#').c_str(),
                 std::string(kBarWidth - filled, ' ').c_str(), percent, after.c_str());
    std::fflush(err_);
    progressShown_ = true;
}

void TerminalView::SetTransfer(uint64_t done, uint64_t total) {
    std::lock_guard lock(mutex_);
    rateText_ = meter_.Update(done, total, std::chrono::steady_clock::now());
}

// The boxes are printed with the summary; the run's record holds them.
void TerminalView::SetResultBox(ResultBox, const std::string&) {}

std::vector<std::string> TerminalView::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void TerminalView::ClearLog() {
    std::lock_guard lock(mutex_);
    lines_.clear();
    runEnded_ = false;
    messagesClosed_ = false;
}

void TerminalView::RunEnded() {
    std::lock_guard lock(mutex_);
    runEnded_ = true;
    ended_.notify_all();
}

bool TerminalView::WaitRunEnded(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return ended_.wait_for(lock, timeout, [this] { return runEnded_; });
}

void TerminalView::EndProgressLine() {
    if (progressShown_) {
        std::fputc('\n', err_);
        progressShown_ = false;
    }
}

}  // namespace veltrix::cli
