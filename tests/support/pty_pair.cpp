#include "tests/support/pty_pair.h"

#include <algorithm>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace veltrix::testing {
namespace fs = std::filesystem;

namespace {

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

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

PtyPair::PtyPair(int portNumber) : portNumber_(portNumber) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    MakeRaw(master_);
    slavePath_ = ptsname(master_);
    slaveKeeper_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    MakeRaw(slaveKeeper_);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

    char templ[] = "/tmp/veltrix-ports-XXXXXX";
    portsFolder_ = mkdtemp(templ);
    if (const char* old = std::getenv("VELTRIX_PORTS")) {
        hadPortsEnv_ = true;
        savedPortsEnv_ = old;
    }
    setenv("VELTRIX_PORTS", portsFolder_.c_str(), 1);
    fs::create_symlink(slavePath_, portsFolder_ / ("COM" + std::to_string(portNumber_)));
}

PtyPair::~PtyPair() {
    if (hadPortsEnv_) {
        setenv("VELTRIX_PORTS", savedPortsEnv_.c_str(), 1);
    } else {
        unsetenv("VELTRIX_PORTS");
    }
    std::error_code ec;
    fs::remove_all(portsFolder_, ec);
    if (slaveKeeper_ >= 0) close(slaveKeeper_);
    if (master_ >= 0) close(master_);
}

void PtyPair::Write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

std::vector<uint8_t> PtyPair::Read(size_t count, int timeoutMs) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t buf[4096];
    while (out.size() < count) {
        ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
            continue;
        }
        int left = RemainingMs(deadline);
        if (left == 0) break;
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, left);
    }
    return out;
}

std::vector<uint8_t> PtyPair::ReadFrame(int timeoutMs) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        uint8_t b;
        ssize_t n = ::read(master_, &b, 1);
        if (n == 1) {
            out.push_back(b);
            bool onlyFlags = true;
            for (size_t i = 0; i + 1 < out.size(); ++i) onlyFlags = onlyFlags && out[i] == 0x7E;
            if (b == 0x7E && !onlyFlags) break;
            continue;
        }
        int left = RemainingMs(deadline);
        if (left == 0) break;
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, left);
    }
    return out;
}

std::vector<uint8_t> PtyPair::Drain(int timeoutMs) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t buf[4096];
    for (;;) {
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
            continue;
        }
        int left = RemainingMs(deadline);
        if (left == 0) break;
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, left);
    }
    return out;
}

}  // namespace veltrix::testing
