#pragma once
// The request packets of the flash programmer's streaming-download protocol, as they go into one
// frame (before framing). Pure builders: no I/O. Multi-byte fields are little-endian.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace veltrix {

// Command codes the host sends.
inline constexpr uint8_t kCmdHello = 0x01;
inline constexpr uint8_t kCmdRead = 0x03;
inline constexpr uint8_t kCmdStreamWrite = 0x07;
inline constexpr uint8_t kCmdReset = 0x0B;
inline constexpr uint8_t kCmdClose = 0x15;
inline constexpr uint8_t kCmdSecurityMode = 0x17;
inline constexpr uint8_t kCmdOpenMultiImage = 0x1B;
inline constexpr uint8_t kCmdEraseFlash = 0x1D;
inline constexpr uint8_t kCmdPhysicalPartitionInfo = 0x23;
inline constexpr uint8_t kCmdReadCheck = 0x25;
inline constexpr uint8_t kCmdPmicOn = 0x26;
inline constexpr uint8_t kCmdPmicStatus = 0x27;

// Reply codes the programmer answers with.
inline constexpr uint8_t kReplyHello = 0x02;
inline constexpr uint8_t kReplyRead = 0x04;
inline constexpr uint8_t kReplyStreamWrite = 0x08;
inline constexpr uint8_t kReplyReset = 0x0C;
inline constexpr uint8_t kReplyLogMessage = 0x0E;
inline constexpr uint8_t kReplyClose = 0x16;
inline constexpr uint8_t kReplySecurityMode = 0x18;
inline constexpr uint8_t kReplyOpenMultiImage = 0x1C;
inline constexpr uint8_t kReplyEraseFlash = 0x1E;
inline constexpr uint8_t kReplyPmic = 0x24;  // PMIC status, PMIC ON and partition info

inline constexpr size_t kHelloRequestLength = 36;
inline constexpr size_t kPhysicalPartitionInfoRequestLength = 38;
inline constexpr size_t kStreamWriteHeaderLength = 5;
inline constexpr size_t kStreamWriteChunk = 1024;  // data bytes per STREAM WRITE
inline constexpr size_t kReadMaxLength = 1000;     // largest READ the programmer serves
inline constexpr uint8_t kImageTypeEmmc = 0x21;    // OPEN MULTI-IMAGE: the whole eMMC
inline constexpr uint8_t kSecurityModeUntrusted = 0x00;

// 0x01, "QCOM fast download protocol host" (32 characters, no terminator), version 4,
// lowest compatible version 2, feature bits 0x11.
std::array<uint8_t, kHelloRequestLength> BuildHelloRequest();
std::array<uint8_t, 2> BuildSecurityModeRequest();
// 0x03, address u32, length u16.
std::array<uint8_t, 7> BuildReadRequest(uint32_t address, uint16_t length);
// 0x25, start sector u32, byte count u32.
std::array<uint8_t, 9> BuildReadCheckRequest(uint32_t startSector, uint32_t byteCount);
std::array<uint8_t, 2> BuildOpenMultiImageRequest();
// 0x23, 33 zero bytes, the marker 0xDEAD (AD DE), then the FCS-16 of offsets 1-35 low byte first
// (always 0x1CB2). This inner check value is in addition to the frame's own FCS.
std::array<uint8_t, kPhysicalPartitionInfoRequestLength> BuildPhysicalPartitionInfoRequest();
// 0x07, address u32, then the data bytes as given (5 + n bytes).
std::vector<uint8_t> BuildStreamWriteRequest(uint32_t address, std::span<const uint8_t> data);

}  // namespace veltrix
