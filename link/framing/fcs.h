#pragma once
// FCS-16 of the HDLC-like framing (CRC-16/X-25: reflected polynomial 0x8408, initial 0xFFFF,
// result complemented). The same routine protects the body of one request inside a frame.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace veltrix {

inline constexpr uint16_t kFcsInitial = 0xFFFF;

// The standard 256-entry table of the reflected polynomial 0x8408.
const std::array<uint16_t, 256>& FcsTable();

// The value after one table step per byte, starting from `fcs` (not complemented). Eight
// bytes at a time are folded in with tables derived from the standard one (same result).
uint16_t FcsUpdate(uint16_t fcs, std::span<const uint8_t> bytes);

// The value sent on the wire: FcsUpdate from 0xFFFF, then complemented.
uint16_t Fcs16(std::span<const uint8_t> bytes);

}  // namespace veltrix
