#include "sim/reply_frame.h"

#include "link/framing/fcs.h"
#include "link/framing/frame_codec.h"

namespace veltrix::sim {

Bytes BuildReplyFrame(std::span<const uint8_t> body, bool corruptFcs) {
    Bytes out(MaxEncodedLength(body.size()));
    if (!corruptFcs) {
        out.resize(EncodeFrame(body, out.data()));
        return out;
    }
    // The frame of the body followed by the inverted FCS, stuffed the same way.
    const uint16_t bad = static_cast<uint16_t>(~Fcs16(body));
    out.clear();
    out.push_back(kFrameFlag);
    auto put = [&out](uint8_t b) {
        if (b == kFrameFlag || b == kFrameEscape) {
            out.push_back(kFrameEscape);
            out.push_back(static_cast<uint8_t>(b ^ kEscapeXor));
        } else {
            out.push_back(b);
        }
    };
    for (uint8_t b : body) {
        put(b);
    }
    put(static_cast<uint8_t>(bad & 0xFF));
    put(static_cast<uint8_t>(bad >> 8));
    out.push_back(kFrameFlag);
    return out;
}

}  // namespace veltrix::sim
