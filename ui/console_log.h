#pragma once
// A board panel's console: the diagnostics its run engine writes (the link's one-line reasons,
// the program list's, the protocol's "Device returned error" lines) go to a log file of the
// panel's own instead of the terminal the window was started from. Each line is written whole,
// with the UTC time in front. The file is bounded: past `limitBytes` it becomes "<name>.1"
// (replacing the older one) and a new file starts, so at most twice the limit is kept.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>
#include <unordered_map>

namespace veltrix::ui {

inline constexpr uint64_t kConsoleLogLimit = 4ull << 20;

// $XDG_DATA_HOME/veltrix/logs, else ~/.local/share/veltrix/logs (on Windows below the user's
// application data folder): beside the run records.
std::filesystem::path ConsoleLogFolder();

class ConsoleLog {
public:
    // Nothing is opened until the first line is written; the folder is made then.
    explicit ConsoleLog(std::filesystem::path file, uint64_t limitBytes = kConsoleLogLimit);
    ~ConsoleLog();  // writes an unfinished line
    ConsoleLog(const ConsoleLog&) = delete;
    ConsoleLog& operator=(const ConsoleLog&) = delete;

    // The stream to hand to the engine. Any thread may write to it; lines are never mixed.
    std::ostream& stream() { return stream_; }
    const std::filesystem::path& path() const;
    // Why the log cannot be written (empty while it can): the file is something other than a
    // regular file, or cannot be opened or written. Lines are dropped from then on.
    std::string problem() const;

private:
    class Buffer : public std::streambuf {
    public:
        Buffer(std::filesystem::path file, uint64_t limit);
        ~Buffer() override;
        const std::filesystem::path& path() const { return file_; }
        std::string problem() const;

    protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* text, std::streamsize count) override;

    private:
        void Take(const char* text, size_t count);
        void WriteLine(const std::string& line);
        bool Open();
        void Rotate();
        void Fail(const std::string& why);

        mutable std::mutex mutex_;
        std::filesystem::path file_;
        uint64_t limit_;
        std::FILE* out_ = nullptr;
        uint64_t size_ = 0;
        // Each writing thread's unfinished line: a line written in several pieces stays whole.
        std::unordered_map<std::thread::id, std::string> pending_;
        std::string problem_;
    };

    Buffer buffer_;
    std::ostream stream_;
};

}  // namespace veltrix::ui
