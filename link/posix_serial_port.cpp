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

#include <chrono>

#include "link/serial_port.h"

namespace veltrix {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kErrorFileNotFound = 2;

// The code a failed call reports: errno passed through, a missing device as on Windows.
int ErrnoCode(int error) {
    switch (error) {
        case 0:
            return kErrorPortHangUp;  // never report a failure as success
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return kErrorFileNotFound;
        case EBUSY:
            return kErrorPortBusy;
        default:
            return error;
    }
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

// Waits for `events` on `fd` up to `deadline`. Returns 0 when the fd is ready or the time ran
// out (the caller's next call tells which), else a system error code.
int WaitFor(int fd, short events, SteadyClock::time_point deadline, bool* timedOut) {
    for (;;) {
        const int left = MsLeft(deadline);
        if (left == 0) {
            *timedOut = true;
            return 0;
        }
        pollfd p{fd, events, 0};
        const int r = poll(&p, 1, left);
        if (r > 0) {
            return 0;
        }
        if (r < 0 && errno != EINTR) {
            return ErrnoCode(errno);
        }
    }
}

// Every byte passes unchanged: no echo, no line editing, no 0x03 wiping pending input, no
// \n to \r\n, no XON/XOFF. The speed is left as it is.
int MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        return ErrnoCode(errno);
    }
    cfmakeraw(&t);
    t.c_iflag &= ~(IXOFF | IXANY);  // cfmakeraw leaves these set
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        return ErrnoCode(errno);
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

private:
    SteadyClock::time_point Deadline() const {
        return SteadyClock::now() + std::chrono::milliseconds(timeoutMs_);
    }

    int fd_ = -1;
    uint32_t timeoutMs_ = 1000;
};

int PosixSerialPort::Open(const std::filesystem::path& device) {
    Close();
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return ErrnoCode(errno);
    }
    // flock refuses a second opener, root included; TIOCEXCL also keeps out programs that do
    // not take the lock (it may fail on some drivers; the lock is what counts).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno == EWOULDBLOCK ? kErrorPortBusy : ErrnoCode(errno);
        ::close(fd);
        return code;
    }
    (void)ioctl(fd, TIOCEXCL);
    if (const int code = MakeRaw(fd); code != 0) {
        (void)ioctl(fd, TIOCNXCL);
        ::close(fd);
        return code;
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
}

int PosixSerialPort::Read(uint8_t* buffer, size_t capacity, size_t* got) {
    *got = 0;
    if (fd_ < 0) {
        return EBADF;
    }
    if (capacity == 0) {
        return 0;
    }
    const auto deadline = Deadline();
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, capacity);
        if (n > 0) {
            *got = static_cast<size_t>(n);
            return 0;
        }
        if (n == 0) {
            return kErrorPortHangUp;  // with VMIN=1, no data is EAGAIN; 0 means hang-up
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return ErrnoCode(errno);
        }
        bool timedOut = false;
        if (const int code = WaitFor(fd_, POLLIN, deadline, &timedOut); code != 0) {
            return code;
        }
        if (timedOut) {
            return 0;
        }
    }
}

int PosixSerialPort::Write(const uint8_t* bytes, size_t length) {
    if (fd_ < 0) {
        return EBADF;
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
            return ErrnoCode(errno);
        }
        bool timedOut = false;
        if (const int code = WaitFor(fd_, POLLOUT, deadline, &timedOut); code != 0) {
            return code;
        }
        if (timedOut) {
            return kErrorSemTimeout;
        }
    }
    return 0;
}

void PosixSerialPort::Purge() {
    if (fd_ >= 0) {
        (void)tcflush(fd_, TCIOFLUSH);
    }
}

}  // namespace

std::unique_ptr<SerialPort> MakeSystemSerialPort() {
    return std::make_unique<PosixSerialPort>();
}

}  // namespace veltrix

#endif  // !_WIN32
