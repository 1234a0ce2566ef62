#pragma once
// Groups the data of an Intel-HEX programmer into DLOAD WRITE_32BIT packets. Pure: no I/O.
//
// A packet is sent once it holds 256 data bytes or more. A data record that does not follow on
// from the packet's last byte, or that would not fit the 273-byte data area, starts a new packet
// at its own address (appending it would put bytes at the wrong place). 01, 02 and 04 records
// send the pending data; so does the end of the text, with or without an 01 record.
// Addresses: upper 16 bits from the last 04 record, plus the segment base of the last 02 record
// (shifted left by 4), plus the record's own 16-bit offset. Start address: the last 05 record,
// or CS * 16 + IP of the last 03 record; 0 when there is neither.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "protocol/intel_hex.h"

namespace veltrix {

inline constexpr size_t kHexPacketFillBytes = 256;
inline constexpr size_t kHexPacketCapacity = 273;

struct HexWritePacket {
    uint32_t address = 0;
    std::vector<uint8_t> data;
};

struct HexUploadPlan {
    std::vector<HexWritePacket> packets;  // in upload order
    uint32_t startAddress = 0;            // for GO
};

HexUploadPlan PlanHexUpload(std::span<const HexRecord> records);

}  // namespace veltrix
