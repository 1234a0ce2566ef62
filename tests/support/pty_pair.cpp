#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

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

// Raw mode: no echo, no line editing, no flow control, every byte value passed unchanged.
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

// Writes all bytes, waiting while the terminal is full.
void WriteAll(int fd, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, -1) <= 0) {
            return;
        }
    }
}

// Reads until `count` bytes arrived or `timeoutMs` passed.
Bytes ReadUpTo(int fd, size_t count, int timeoutMs) {
    Bytes out;
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

Bytes ReadRawFrame(int fd, int timeoutMs) {
    Bytes out;
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

}  // namespace

PtyPair::PtyPair(int portNumber)
    : portNumber_(portNumber), ports_("VELTRIX_PORTS", folder_.path().string()) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    MakeRaw(master_);
    slavePath_ = ptsname(master_);
    slaveKeeper_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    MakeRaw(slaveKeeper_);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    std::filesystem::create_symlink(slavePath_,
                                    portsFolder() / ("COM" + std::to_string(portNumber_)));
}

PtyPair::~PtyPair() {
    if (slaveKeeper_ >= 0) {
        close(slaveKeeper_);
    }
    if (master_ >= 0) {
        close(master_);
    }
}

void PtyPair::Write(const Bytes& bytes) {
    WriteAll(master_, bytes);
}

Bytes PtyPair::Read(size_t count, int timeoutMs) {
    return ReadUpTo(master_, count, timeoutMs);
}

Bytes PtyPair::ReadFrame(int timeoutMs) {
    return ReadRawFrame(master_, timeoutMs);
}

}  // namespace veltrix::testing
