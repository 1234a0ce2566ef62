#include "ui/console_log.h"

#include <QDir>
#include <QStandardPaths>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "base/file_io.h"
#include "diag/model_table.h"
#include "diag/run_report.h"

namespace veltrix::ui {

std::filesystem::path ConsoleLogFolder() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return PathFromUtf8(QDir(data).filePath(QStringLiteral("veltrix/logs")).toStdString());
}

ConsoleLog::ConsoleLog(std::filesystem::path file, uint64_t limitBytes)
    : buffer_(std::move(file), limitBytes), stream_(&buffer_) {}

ConsoleLog::~ConsoleLog() = default;

const std::filesystem::path& ConsoleLog::path() const {
    return buffer_.path();
}

std::string ConsoleLog::problem() const {
    return buffer_.problem();
}

ConsoleLog::Buffer::Buffer(std::filesystem::path file, uint64_t limit)
    : file_(std::move(file)), limit_(limit) {}

ConsoleLog::Buffer::~Buffer() {
    std::lock_guard lock(mutex_);
    for (const auto& [thread, line] : pending_) {
        if (!line.empty()) {
            WriteLine(line + "\n");
        }
    }
    if (out_ != nullptr) {
        std::fclose(out_);
    }
}

std::string ConsoleLog::Buffer::problem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

// Unbuffered: every character reaches Take under the lock and joins its own thread's line, so
// writers on two threads never mix their lines.
ConsoleLog::Buffer::int_type ConsoleLog::Buffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    const char ch = traits_type::to_char_type(c);
    Take(&ch, 1);
    return c;
}

std::streamsize ConsoleLog::Buffer::xsputn(const char* text, std::streamsize count) {
    Take(text, static_cast<size_t>(count));
    return count;
}

void ConsoleLog::Buffer::Take(const char* text, size_t count) {
    std::lock_guard lock(mutex_);
    std::string& pending = pending_[std::this_thread::get_id()];
    for (size_t i = 0; i < count; ++i) {
        pending += text[i];
        if (text[i] == '\n') {
            WriteLine(pending);
            pending.clear();
        }
    }
    if (pending.empty()) {
        pending_.erase(std::this_thread::get_id());
    }
}

void ConsoleLog::Buffer::WriteLine(const std::string& line) {
    if (!problem_.empty() || !Open()) {
        return;
    }
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const std::string stamped =
        UtcText(std::chrono::duration_cast<std::chrono::seconds>(now).count()) + " " + line;
    if (size_ > 0 && size_ + stamped.size() > limit_) {
        Rotate();
        if (!problem_.empty() || !Open()) {
            return;
        }
    }
    if (std::fwrite(stamped.data(), 1, stamped.size(), out_) != stamped.size() ||
        std::fflush(out_) != 0) {
        Fail(std::error_code(errno, std::generic_category()).message());
        return;
    }
    size_ += stamped.size();
}

// Opens the file for appending, once: only a regular file (or nothing) is written to, never
// what a link points to.
bool ConsoleLog::Buffer::Open() {
    if (out_ != nullptr) {
        return true;
    }
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    const PathKind kind = KindOfPath(file_);
    if (kind != PathKind::kNone && kind != PathKind::kRegular) {
        Fail(std::string(PathKindText(kind)) + " is in its place");
        return false;
    }
    out_ = OpenCFile(file_, "ab");
    if (out_ == nullptr) {
        Fail(std::error_code(errno, std::generic_category()).message());
        return false;
    }
    const auto size = std::filesystem::file_size(file_, ec);
    size_ = ec ? 0 : size;
    return true;
}

// The full file becomes "<name>.1", replacing the one before.
void ConsoleLog::Buffer::Rotate() {
    std::fclose(out_);
    out_ = nullptr;
    std::filesystem::path older = file_;
    older += ".1";
    std::error_code ec;
    const PathKind kind = KindOfPath(older);
    if (kind == PathKind::kNone || kind == PathKind::kRegular) {
        std::filesystem::rename(file_, older, ec);
    }
    if (kind != PathKind::kNone && kind != PathKind::kRegular) {
        ec = std::make_error_code(std::errc::file_exists);
    }
    if (ec) {
        // The file cannot be put aside (another program holds it open): start it afresh rather
        // than let it grow without bound.
        std::FILE* fresh = OpenCFile(file_, "wb");
        if (fresh == nullptr) {
            Fail("it cannot be started afresh: " + ec.message());
            return;
        }
        std::fclose(fresh);
    }
    size_ = 0;
}

void ConsoleLog::Buffer::Fail(const std::string& why) {
    problem_ = file_.string() + ": " + why;
    if (out_ != nullptr) {
        std::fclose(out_);
        out_ = nullptr;
    }
}

}  // namespace veltrix::ui
