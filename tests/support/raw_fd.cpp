#include "tests/support/raw_fd.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace veltrix::testing {
namespace {

constexpr uint8_t kFlag = 0x7E;

using Deadline = std::chrono::steady_clock::time_point;

Deadline After(int timeoutMs) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

// Waits for input until the deadline; false once it has passed.
bool WaitReadable(int fd, Deadline deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
        return false;
    }
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, static_cast<int>(left));
    return true;
}

}  // namespace

void MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        t.c_iflag &= ~(IXOFF | IXANY);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &t);
    }
}

void WriteAll(int fd, const std::vector<uint8_t>& bytes, int pollMs) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, pollMs) <= 0) {
            return;
        }
    }
}

std::vector<uint8_t> ReadUpTo(int fd, size_t count, int timeoutMs) {
    std::vector<uint8_t> out;
    const Deadline deadline = After(timeoutMs);
    uint8_t buf[4096];
    while (out.size() < count) {
        const ssize_t n = ::read(fd, buf, std::min(sizeof buf, count - out.size()));
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
        } else if (!WaitReadable(fd, deadline)) {
            break;
        }
    }
    return out;
}

std::vector<uint8_t> ReadRawFrame(int fd, int timeoutMs) {
    std::vector<uint8_t> out;
    const Deadline deadline = After(timeoutMs);
    for (;;) {
        uint8_t b;
        if (::read(fd, &b, 1) == 1) {
            const bool onlyFlags =
                std::all_of(out.begin(), out.end(), [](uint8_t x) { return x == kFlag; });
            out.push_back(b);
            if (b == kFlag && !onlyFlags) {
                return out;
            }
        } else if (!WaitReadable(fd, deadline)) {
            return out;
        }
    }
}

}  // namespace veltrix::testing
