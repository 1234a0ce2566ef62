#include "sim/pty_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace veltrix::sim {
namespace fs = std::filesystem;
namespace {

using SteadyClock = std::chrono::steady_clock;

// Every byte passes unchanged: no echo, no line editing, no CR/LF mapping, no flow control.
void MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        t.c_iflag &= ~(IXOFF | IXANY);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &t);
    }
}

int MsLeft(SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

bool PtyPort::Open(const fs::path& folder, int portNumber, std::string* error) {
    Close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        Close();
        return false;
    }
    MakeRaw(master_);  // on a master this sets the slave's line settings
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) {
        *error = "cannot name the pseudo-terminal";
        Close();
        return false;
    }
    slavePath_ = name;
    // Open and close the slave once: from then on the master reports POLLHUP until the host
    // opens the port, which is how the board notices the host arriving.
    if (int s = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); s >= 0) {
        close(s);
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path link = folder / ("COM" + std::to_string(portNumber));
    const auto st = fs::symlink_status(link, ec);
    if (fs::is_symlink(st)) {
        fs::remove(link, ec);  // a stale link of an earlier board
    } else if (fs::exists(st)) {
        *error = link.string() + " exists and is not a link; not replacing it";
        Close();
        return false;
    }
    fs::create_symlink(slavePath_, link, ec);
    if (ec) {
        *error = "cannot link " + link.string() + ": " + ec.message();
        Close();
        return false;
    }
    linkPath_ = link;
    return true;
}

void PtyPort::Unlink() {
    std::error_code ec;
    if (!linkPath_.empty() && fs::read_symlink(linkPath_, ec) == slavePath_) {
        fs::remove(linkPath_, ec);
    }
    linkPath_.clear();
}

void PtyPort::Close() {
    Unlink();
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

int PtyPort::PollMaster(short events, int timeoutMs) const {
    return PollMaster(events, std::chrono::milliseconds(timeoutMs));
}

int PtyPort::PollMaster(short events, std::chrono::microseconds timeout) const {
    pollfd p[2] = {{master_, events, 0}, {wakeFd_, POLLIN, 0}};
    const int n = wakeFd_ >= 0 ? 2 : 1;
    timespec wait{};
    const timespec* limit = nullptr;
    if (timeout.count() >= 0) {
        wait.tv_sec = static_cast<time_t>(timeout.count() / 1000000);
        wait.tv_nsec = static_cast<long>(timeout.count() % 1000000 * 1000);
        limit = &wait;
    }
    int r;
    do {
        r = ppoll(p, static_cast<nfds_t>(n), limit, nullptr);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) {
        return 0;
    }
    if (n == 2 && (p[1].revents & POLLIN)) {
        return -1;
    }
    return p[0].revents;
}

bool PtyPort::HostPresent() const {
    if (master_ < 0) {
        return false;
    }
    pollfd p{master_, POLLIN, 0};
    return poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP);
}

PtyPort::ReadStatus PtyPort::Read(uint8_t* buffer, size_t capacity, size_t* got, int timeoutMs) {
    return ReadFor(buffer, capacity, got, std::chrono::milliseconds(timeoutMs));
}

PtyPort::ReadStatus PtyPort::ReadFor(uint8_t* buffer, size_t capacity, size_t* got,
                                     std::chrono::microseconds timeout) {
    *got = 0;
    if (master_ < 0) {
        return ReadStatus::kError;
    }
    const int rev = PollMaster(POLLIN, timeout);
    if (rev < 0) {
        return ReadStatus::kWoken;
    }
    if (rev == 0) {
        return ReadStatus::kTimeout;
    }
    const ssize_t n = ::read(master_, buffer, capacity);
    if (n > 0) {
        *got = static_cast<size_t>(n);
        return ReadStatus::kData;
    }
    if (n < 0 && errno == EAGAIN) {
        return ReadStatus::kTimeout;
    }
    return (n < 0 && errno != EIO) ? ReadStatus::kError : ReadStatus::kNoHost;
}

size_t PtyPort::ReadExact(uint8_t* buffer, size_t count, int idleMs) {
    size_t done = 0;
    while (done < count) {
        size_t got = 0;
        if (Read(buffer + done, count - done, &got, idleMs) != ReadStatus::kData) {
            break;
        }
        done += got;
    }
    return done;
}

bool PtyPort::Write(std::span<const uint8_t> bytes, int timeoutMs) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < bytes.size() && master_ >= 0) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        const int left = MsLeft(deadline);
        if (left == 0 || PollMaster(POLLOUT, left) <= 0) {
            return false;
        }
    }
    return done == bytes.size();
}

bool PtyPort::ResetAfterHost() {
    const int s = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0) {
        return false;
    }
    ioctl(s, TIOCNXCL);
    tcflush(s, TCIFLUSH);
    uint8_t sink[4096];
    while (::read(s, sink, sizeof sink) > 0) {
    }
    close(s);
    return true;
}

}  // namespace veltrix::sim
