#include "link/framing/frame_codec.h"

#include <algorithm>
#include <cstring>

#include "link/framing/fcs.h"

namespace veltrix {
namespace {

// The first `byte` in [from, end), or `end`. An empty range may come with no storage at all
// (a null pointer), which memchr must not be given.
inline const uint8_t* Find(const uint8_t* from, const uint8_t* end, uint8_t byte) {
    if (from == end) {
        return end;
    }
    const void* found = std::memchr(from, byte, static_cast<size_t>(end - from));
    return found != nullptr ? static_cast<const uint8_t*>(found) : end;
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
    // Runs between the bytes that need an escape go out with one copy each; such bytes are rare
    // in flash data, and memchr finds them many bytes at a time.
    const uint8_t* nextFlag = Find(in, end, kFrameFlag);
    const uint8_t* nextEscape = Find(in, end, kFrameEscape);
    while (in < end) {
        const uint8_t* stop = std::min(nextFlag, nextEscape);
        std::memcpy(p, in, static_cast<size_t>(stop - in));
        p += stop - in;
        in = stop;
        if (in == end) {
            break;
        }
        p = PutEscaped(p, *in);
        if (*in++ == kFrameFlag) {
            nextFlag = Find(in, end, kFrameFlag);
        } else {
            nextEscape = Find(in, end, kFrameEscape);
        }
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
    const uint8_t* in = raw.data();
    const uint8_t* const end = in + raw.size();
    size_t n = 0;
    // Runs between flags and escapes move with one copy each (`out` may be `raw` itself: it never
    // runs ahead of the input, so a move is safe).
    const uint8_t* nextFlag = Find(in, end, kFrameFlag);
    const uint8_t* nextEscape = Find(in, end, kFrameEscape);
    while (in < end) {
        const uint8_t* stop = std::min(nextFlag, nextEscape);
        std::memmove(out + n, in, static_cast<size_t>(stop - in));
        n += static_cast<size_t>(stop - in);
        in = stop;
        if (in == end) {
            break;
        }
        if (*in == kFrameFlag) {
            nextFlag = Find(++in, end, kFrameFlag);
            continue;
        }
        if (++in == end) {
            break;  // an escape with nothing after it
        }
        out[n++] = static_cast<uint8_t>(*in++ ^ kEscapeXor);
        // The escaped byte may itself have been the next flag or escape.
        if (nextFlag < in) {
            nextFlag = Find(in, end, kFrameFlag);
        }
        nextEscape = Find(in, end, kFrameEscape);
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
