#include "tests/sim/raw_host.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "link/frame_codec.h"

namespace veltrix::sim::testing {
namespace {

int MsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

RawHost::RawHost(const std::filesystem::path& port) {
    fd_ = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    t.c_iflag &= ~(IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd_, TCSANOW, &t);
}

void RawHost::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

void RawHost::Write(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, 1000) <= 0) {
            return;
        }
    }
}

void RawHost::WriteFrame(const Bytes& body) {
    Bytes wire(MaxEncodedLength(body.size()));
    wire.resize(EncodeFrame(body, wire.data()));
    Write(wire);
}

Bytes RawHost::ReadFrame(int timeoutMs) {
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        uint8_t b;
        if (::read(fd_, &b, 1) == 1) {
            if (b == kFrameFlag && out.size() <= 1) {
                out.assign(1, b);  // an opening flag (or two in a row)
                continue;
            }
            out.push_back(b);
            if (b == kFrameFlag) {
                return out;
            }
            continue;
        }
        const int left = MsLeft(deadline);
        pollfd p{fd_, POLLIN, 0};
        if (left == 0 || poll(&p, 1, left) <= 0) {
            return out;
        }
    }
}

std::optional<Bytes> RawHost::Exchange(const Bytes& request, int timeoutMs, bool* fcsOk) {
    WriteFrame(request);
    const Bytes raw = ReadFrame(timeoutMs);
    if (raw.empty() || raw.back() != kFrameFlag || raw.size() < 3) {
        return std::nullopt;
    }
    Bytes body(raw.size());
    body.resize(UnstuffFrame(raw, body.data()));
    if (fcsOk) {
        *fcsOk = FrameFcsMatches(body);
    }
    if (body.size() < kFcsLength) {
        return std::nullopt;
    }
    body.resize(body.size() - kFcsLength);
    return body;
}

void AppendLe32(Bytes& out, uint32_t v) {
    for (int s = 0; s < 32; s += 8) {
        out.push_back(static_cast<uint8_t>(v >> s));
    }
}

void AppendBe32(Bytes& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) {
        out.push_back(static_cast<uint8_t>(v >> s));
    }
}

void AppendBe16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

uint32_t Le32At(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) |
           static_cast<uint32_t>(b[at + 3]) << 24;
}

}  // namespace veltrix::sim::testing
