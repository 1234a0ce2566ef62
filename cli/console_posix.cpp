// The terminal on POSIX: arguments and output are UTF-8 already.

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "cli/console.h"

namespace veltrix::cli {

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

bool WaitForEnter(std::FILE* in, const std::atomic<bool>& stop) {
    constexpr int kPollMs = 100;
    const int fd = fileno(in);
    while (!stop) {
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, kPollMs);
        if (polled < 0 && errno == EINTR) {
            continue;  // a signal: the loop looks at `stop` again
        }
        if (polled < 0) {
            return true;
        }
        if (polled == 0) {
            continue;
        }
        char c = 0;
        const ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0 || c == '\n') {
            return true;
        }
    }
    return false;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

Utf8Console::Utf8Console() = default;
Utf8Console::~Utf8Console() = default;

}  // namespace veltrix::cli
