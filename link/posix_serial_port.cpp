// The serial port on POSIX systems: a tty opened non-blocking, in raw mode, held exclusively.
// Reads wait with poll() for the time left on a monotonic clock, so a signal or a spurious
// wake-up never stretches or shortens the time-out.

#ifndef _WIN32

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>

#include "base/result_codes.h"
#include "base/system_error.h"
#include "link/serial_port.h"

namespace veltrix {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A cancelled wait notices within this time.
constexpr int kCancelSliceMs = 100;

// The code of a failed port call. EIO is what a tty reports once its device has gone (a board
// that re-enumerates), so it reads as the device being gone.
int PortErrnoCode(int error) {
    return error == EIO ? kErrorDeviceNotConnected : ResultFromErrno(error);
}

// Milliseconds left until `deadline`, rounded up so that poll() never wakes a hair early and
// spins; 0 once the deadline has passed.
int MsLeft(SteadyClock::time_point deadline) {
    const auto left = deadline - SteadyClock::now();
    if (left <= SteadyClock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

// Waits for `events` on `fd` up to `deadline`, in slices short enough to notice `cancel`.
// Returns 0 when the fd is ready or the time ran out (`*timedOut`), kErrorOperationAborted once
// `cancel` is set, else -errno of the failed poll.
int WaitFor(int fd, short events, SteadyClock::time_point deadline, const std::atomic<bool>* cancel,
            bool* timedOut) {
    for (;;) {
        if (cancel && cancel->load()) {
            return kErrorOperationAborted;
        }
        const int left = MsLeft(deadline);
        if (left == 0) {
            *timedOut = true;
            return 0;
        }
        pollfd p{fd, events, 0};
        const int r = poll(&p, 1, cancel ? std::min(left, kCancelSliceMs) : left);
        if (r > 0) {
            return 0;
        }
        if (r < 0 && errno != EINTR) {
            return -errno;
        }
    }
}

// Every byte passes unchanged: no echo, no line editing, no 0x03 wiping pending input, no
// \n to \r\n, no XON/XOFF. The speed is left as it is.
// 0, or the errno of the failed call.
int MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        return errno;
    }
    cfmakeraw(&t);
    t.c_iflag &= ~(IXOFF | IXANY);  // cfmakeraw leaves these set
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        return errno;
    }
    return 0;
}

class PosixSerialPort final : public SerialPort {
public:
    ~PosixSerialPort() override { Close(); }

    int Open(const std::filesystem::path& device) override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }
    void SetTimeout(uint32_t ms) override { timeoutMs_ = ms; }
    int Read(uint8_t* buffer, size_t capacity, size_t* got) override;
    int Write(const uint8_t* bytes, size_t length) override;
    void Purge() override;
    void WatchCancel(const std::atomic<bool>* cancel) override { cancel_ = cancel; }
    std::string LastErrorText() const override { return lastError_; }

private:
    // Records the system's words for `error` and returns its code.
    int Fail(int error) {
        lastError_ = SystemErrorText(error);
        return PortErrnoCode(error);
    }
    int Fail(int code, std::string text) {
        lastError_ = std::move(text);
        return code;
    }
    // A WaitFor result: its code, with the words for a failed poll.
    int WaitFailed(int code) { return code < 0 ? Fail(-code) : Fail(code, "cancelled"); }

    SteadyClock::time_point Deadline() const {
        return SteadyClock::now() + std::chrono::milliseconds(timeoutMs_);
    }

    int fd_ = -1;
    uint32_t timeoutMs_ = 1000;
    const std::atomic<bool>* cancel_ = nullptr;
    // The last read filled the caller's buffer: the next one tries the port before waiting.
    bool moreQueued_ = false;
    std::string lastError_;
};

int PosixSerialPort::Open(const std::filesystem::path& device) {
    Close();
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return Fail(errno);
    }
    // flock refuses a second opener, root included; TIOCEXCL also keeps out programs that do
    // not take the lock (it may fail on some drivers; the lock is what counts).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) {
            return Fail(kErrorPortBusy, "another process holds the port");
        }
        return Fail(error);
    }
    (void)ioctl(fd, TIOCEXCL);
    if (const int error = MakeRaw(fd); error != 0) {
        (void)ioctl(fd, TIOCNXCL);
        ::close(fd);
        return Fail(error);
    }
    fd_ = fd;
    return 0;
}

void PosixSerialPort::Close() {
    if (fd_ < 0) {
        return;
    }
    // The exclusive flag outlives this descriptor while anyone else holds the tty open, and
    // would then keep out the next opener: clear it first.
    (void)ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
    moreQueued_ = false;
}

int PosixSerialPort::Read(uint8_t* buffer, size_t capacity, size_t* got) {
    *got = 0;
    if (fd_ < 0) {
        return Fail(kErrorInvalidHandle, "port closed");
    }
    if (capacity == 0) {
        return 0;
    }
    const auto deadline = Deadline();
    // A read right after a request finds nothing yet and would only say EAGAIN: wait first,
    // unless the last read filled its buffer and more is likely queued already.
    bool wait = !moreQueued_;
    for (;;) {
        if (wait) {
            bool timedOut = false;
            if (const int code = WaitFor(fd_, POLLIN, deadline, cancel_, &timedOut); code != 0) {
                return WaitFailed(code);
            }
            if (timedOut) {
                moreQueued_ = false;
                return 0;
            }
        }
        const ssize_t n = ::read(fd_, buffer, capacity);
        if (n > 0) {
            *got = static_cast<size_t>(n);
            moreQueued_ = *got == capacity;
            return 0;
        }
        if (n == 0) {
            // With VMIN=1, no data is EAGAIN; 0 means hang-up.
            return Fail(kErrorDeviceNotConnected, "the device hung up");
        }
        if (errno == EINTR) {
            wait = false;
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return Fail(errno);
        }
        wait = true;
    }
}

int PosixSerialPort::Write(const uint8_t* bytes, size_t length) {
    if (fd_ < 0) {
        return Fail(kErrorInvalidHandle, "port closed");
    }
    const auto deadline = Deadline();
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd_, bytes + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return Fail(errno);
        }
        bool timedOut = false;
        if (const int code = WaitFor(fd_, POLLOUT, deadline, cancel_, &timedOut); code != 0) {
            return WaitFailed(code);
        }
        if (timedOut) {
            return Fail(kErrorSemTimeout, "write time-out");
        }
    }
    return 0;
}

void PosixSerialPort::Purge() {
    if (fd_ >= 0) {
        (void)tcflush(fd_, TCIOFLUSH);
    }
    moreQueued_ = false;
}

}  // namespace

std::unique_ptr<SerialPort> MakeSystemSerialPort() {
    return std::make_unique<PosixSerialPort>();
}

}  // namespace veltrix

#endif  // !_WIN32
