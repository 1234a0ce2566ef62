#include "tests/sim/raw_host.h"

#include <fcntl.h>
#include <unistd.h>

#include "link/framing/frame_codec.h"
#include "tests/support/raw_fd.h"

namespace veltrix::sim::testing {

RawHost::RawHost(const std::filesystem::path& port) {
    fd_ = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0) {
        veltrix::testing::MakeRaw(fd_);
    }
}

void RawHost::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

void RawHost::Write(const Bytes& bytes) {
    veltrix::testing::WriteAll(fd_, bytes, 1000);
}

void RawHost::WriteFrame(const Bytes& body) {
    Bytes wire(MaxEncodedLength(body.size()));
    wire.resize(EncodeFrame(body, wire.data()));
    Write(wire);
}

Bytes RawHost::ReadFrame(int timeoutMs) {
    return veltrix::testing::ReadRawFrame(fd_, timeoutMs);
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
