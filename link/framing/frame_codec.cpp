#include "link/framing/frame_codec.h"

#include <algorithm>
#include <cstring>

#include "link/framing/fcs.h"

namespace veltrix {
namespace {

// True when one of the eight bytes of `w` is 0x7C..0x7F, which covers both bytes that need an
// escape (0x7E, 0x7D): runs without them are copied eight bytes at a time.
inline bool MayNeedEscape(uint64_t w) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    const uint64_t t = (w ^ (0x7C * kOnes)) & (0xFC * kOnes);  // zero byte where 0x7C..0x7F
    return ((t - kOnes) & ~t & (0x80 * kOnes)) != 0;
}

inline uint64_t Load8(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

inline void Store8(uint8_t* p, uint64_t w) {
    std::memcpy(p, &w, sizeof w);
}

inline uint8_t* PutEscaped(uint8_t* out, uint8_t byte) {
    if (byte == kFrameFlag || byte == kFrameEscape) {
        *out++ = kFrameEscape;
        *out++ = static_cast<uint8_t>(byte ^ kEscapeXor);
    } else {
        *out++ = byte;
    }
    return out;
}

}  // namespace

size_t EncodeFrame(std::span<const uint8_t> body, uint8_t* out) {
    const uint16_t fcs = Fcs16(body);
    uint8_t* p = out;
    *p++ = kFrameFlag;
    const uint8_t* in = body.data();
    const uint8_t* const end = in + body.size();
    while (in < end) {
        if (end - in >= 8) {
            const uint64_t w = Load8(in);
            if (!MayNeedEscape(w)) {
                Store8(p, w);
                p += 8;
                in += 8;
                continue;
            }
        }
        p = PutEscaped(p, *in++);
    }
    p = PutEscaped(p, static_cast<uint8_t>(fcs & 0xFF));
    p = PutEscaped(p, static_cast<uint8_t>(fcs >> 8));
    *p++ = kFrameFlag;
    return static_cast<size_t>(p - out);
}

FrameCollector::Step FrameCollector::Push(uint8_t byte) {
    if (closed_) {
        return Step::kClosed;
    }
    if (position_ >= storage_.size()) {
        return Step::kFull;
    }
    storage_[position_] = byte;
    if (byte == kFrameFlag) {
        if (position_ >= 2) {
            ++position_;
            closed_ = true;
            return Step::kClosed;
        }
        position_ = 1;
        return Step::kMore;
    }
    ++position_;
    return position_ >= storage_.size() ? Step::kFull : Step::kMore;
}

size_t FrameCollector::Feed(std::span<const uint8_t> bytes, Step* step) {
    Step state =
        closed_ ? Step::kClosed : (position_ >= storage_.size() ? Step::kFull : Step::kMore);
    size_t taken = 0;
    while (state == Step::kMore && taken < bytes.size()) {
        if (position_ < 2) {
            // Opening flags rewind to position 1: the byte-wise rule handles them.
            state = Push(bytes[taken++]);
            continue;
        }
        // From position 2 on, the first flag closes the frame: copy up to and including it.
        const uint8_t* start = bytes.data() + taken;
        const size_t span = std::min(storage_.size() - position_, bytes.size() - taken);
        const void* flag = std::memchr(start, kFrameFlag, span);
        const size_t run =
            flag ? static_cast<size_t>(static_cast<const uint8_t*>(flag) - start) + 1 : span;
        std::memcpy(storage_.data() + position_, start, run);
        position_ += run;
        taken += run;
        if (flag) {
            closed_ = true;
            state = Step::kClosed;
        } else if (position_ >= storage_.size()) {
            state = Step::kFull;
        }
    }
    *step = state;
    return taken;
}

size_t UnstuffFrame(std::span<const uint8_t> raw, uint8_t* out) {
    size_t n = 0;
    size_t i = 0;
    while (i < raw.size()) {
        if (raw.size() - i >= 8) {
            const uint64_t w = Load8(raw.data() + i);
            if (!MayNeedEscape(w)) {
                Store8(out + n, w);  // through a register: `out` may be `raw` itself
                n += 8;
                i += 8;
                continue;
            }
        }
        const uint8_t b = raw[i++];
        if (b == kFrameFlag) {
            continue;
        }
        if (b == kFrameEscape) {
            if (i >= raw.size()) {
                break;
            }
            out[n++] = static_cast<uint8_t>(raw[i++] ^ kEscapeXor);
        } else {
            out[n++] = b;
        }
    }
    return n;
}

bool FrameFcsMatches(std::span<const uint8_t> unstuffed) {
    if (unstuffed.size() < kFcsLength) {
        return false;
    }
    const auto body = unstuffed.first(unstuffed.size() - kFcsLength);
    const uint16_t fcs = Fcs16(body);
    const uint8_t lo = unstuffed[unstuffed.size() - 2];
    const uint8_t hi = unstuffed[unstuffed.size() - 1];
    return lo == (fcs & 0xFF) && hi == (fcs >> 8);
}

}  // namespace veltrix
