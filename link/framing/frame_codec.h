#pragma once
// The HDLC-like framing every framed exchange uses: 0x7E flags, 0x7D escapes, FCS-16 low byte
// first. Shared by the host link and the simulated board; works on buffers only, no I/O.

#include <cstddef>
#include <cstdint>
#include <span>

namespace veltrix {

inline constexpr uint8_t kFrameFlag = 0x7E;
inline constexpr uint8_t kFrameEscape = 0x7D;
inline constexpr uint8_t kEscapeXor = 0x20;
inline constexpr size_t kFcsLength = 2;

// Room an encoded frame of `bodyLength` bytes may need: two flags, every body and FCS byte
// escaped in the worst case.
constexpr size_t MaxEncodedLength(size_t bodyLength) {
    return 2 + 2 * (bodyLength + kFcsLength);
}

// Writes flag, escaped body, escaped FCS (low byte first), flag into `out`, which must hold
// MaxEncodedLength(body.size()) bytes. Returns the encoded length.
size_t EncodeFrame(std::span<const uint8_t> body, uint8_t* out);

// Collects one raw reply frame byte by byte: a flag stored at position 0 or 1 opens the frame
// (collection goes on at position 1, the byte at position 0 stays), a flag at position 2 or later
// closes it. The raw frame keeps flags and escapes as they arrived.
class FrameCollector {
public:
    enum class Step { kMore, kClosed, kFull };

    // `storage` receives the raw bytes; its size is the most a frame may take.
    explicit FrameCollector(std::span<uint8_t> storage) : storage_(storage) {}

    Step Push(uint8_t byte);
    // Pushes bytes in order, by the same rules as Push, until the frame closes, the storage is
    // full or the bytes run out. Returns how many bytes were taken: what follows the closing
    // flag is left to the caller. `*step` is the state afterwards.
    size_t Feed(std::span<const uint8_t> bytes, Step* step);
    void Reset() {
        position_ = 0;
        closed_ = false;
    }
    bool Closed() const { return closed_; }
    // The raw frame so far (up to and including the closing flag once closed).
    std::span<const uint8_t> Raw() const { return storage_.first(position_); }

private:
    std::span<uint8_t> storage_;
    size_t position_ = 0;
    bool closed_ = false;
};

// Undoes the byte stuffing of a raw frame: flags dropped, 0x7D x stored as x ^ 0x20. A trailing
// lone 0x7D is dropped. `out` must hold raw.size() bytes; it may be raw.data() itself (unstuffing
// in place). Returns the number of bytes stored.
size_t UnstuffFrame(std::span<const uint8_t> raw, uint8_t* out);

// True when the last two bytes of an unstuffed frame are the FCS of the bytes before them.
bool FrameFcsMatches(std::span<const uint8_t> unstuffed);

}  // namespace veltrix
