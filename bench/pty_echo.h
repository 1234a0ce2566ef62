#pragma once
// Shared by the benchmarks: a pty whose master answers every request frame with a fixed reply,
// the bare write/read ping-pong over its slave, and per-thread CPU time.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/framing/frame_codec.h"

namespace bench {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

inline Bytes Pattern(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i * 131 + 7);  // 7E/7D included
    return b;
}

inline Bytes Frame(const Bytes& body) {
    Bytes out(veltrix::MaxEncodedLength(body.size()));
    out.resize(veltrix::EncodeFrame(body, out.data()));
    return out;
}

// CPU time of the calling thread, in seconds.
inline double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

inline double WallSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The master answers every request frame (two flags) with `reply`. With `portNumber` the slave
// is linked as COMn in a private ports folder that $VELTRIX_PORTS points to.
class EchoBoard {
public:
    explicit EchoBoard(Bytes reply, int portNumber = 0) : reply_(std::move(reply)) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(master_);
        unlockpt(master_);
        termios t{};
        tcgetattr(master_, &t);
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
        slave_ = ptsname(master_);
        if (portNumber > 0) {
            char templ[] = "/tmp/veltrix-bench-XXXXXX";
            folder_ = mkdtemp(templ);
            fs::create_symlink(slave_, folder_ / ("COM" + std::to_string(portNumber)));
            setenv("VELTRIX_PORTS", folder_.c_str(), 1);
        }
        peer_ = std::thread([this] { Serve(); });
    }
    ~EchoBoard() {
        stop_ = true;
        peer_.join();
        close(master_);
        if (!folder_.empty()) {
            std::error_code ec;
            fs::remove_all(folder_, ec);
        }
    }
    const std::string& slave() const { return slave_; }

private:
    void Serve() {
        uint8_t buf[8192];
        int flags = 0;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = read(master_, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] == veltrix::kFrameFlag && ++flags == 2) {
                    flags = 0;
                    for (size_t done = 0; done < reply_.size();) {
                        const ssize_t w =
                            write(master_, reply_.data() + done, reply_.size() - done);
                        if (w > 0)
                            done += static_cast<size_t>(w);
                    }
                }
            }
        }
    }

    Bytes reply_;
    int master_ = -1;
    std::string slave_;
    fs::path folder_;
    std::thread peer_;
    std::atomic<bool> stop_{false};
};

// The same exchange with nothing but write() and a blocking read() on the slave: the floor any
// framed exchange over this pty stands on.
class BarePingPong {
public:
    BarePingPong(const Bytes& requestBody, const Bytes& replyBody)
        : request_(Frame(requestBody)), reply_(Frame(replyBody).size()), board_(Frame(replyBody)) {
        fd_ = open(board_.slave().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~BarePingPong() { close(fd_); }
    bool Exchange() {
        for (size_t done = 0; done < request_.size();) {
            const ssize_t n = write(fd_, request_.data() + done, request_.size() - done);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        for (size_t got = 0; got < reply_.size();) {
            const ssize_t n = read(fd_, reply_.data() + got, reply_.size() - got);
            if (n <= 0)
                return false;
            got += static_cast<size_t>(n);
        }
        return true;
    }

private:
    Bytes request_;
    Bytes reply_;
    EchoBoard board_;
    int fd_ = -1;
};

}  // namespace bench
