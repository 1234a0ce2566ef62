#pragma once
// The boot ROM's emergency-download (DLOAD) protocol: the NOP probe and the upload of an
// Intel-HEX flash programmer with WRITE_32BIT packets, then GO. HDLC-framed through Transact;
// multi-byte fields big-endian. Every exchange runs under the link's current time-out.

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "protocol/programmer_session.h"

namespace veltrix {

inline constexpr uint8_t kDloadWrite32 = 0x0F;
inline constexpr uint8_t kDloadGo = 0x05;
inline constexpr uint8_t kDloadNopCode = 0x06;
inline constexpr uint8_t kDloadAck = 0x02;
inline constexpr size_t kDloadWrite32HeaderLength = 7;

// 0x0F, address u32 BE, length u16 BE, the data (7 + n bytes).
std::vector<uint8_t> BuildWrite32Request(uint32_t address, std::span<const uint8_t> data);
// 0x05, start address u32 BE.
std::array<uint8_t, 5> BuildGoRequest(uint32_t startAddress);

// NOP; 0 when the ROM answers ACK, else 6 (a silent port and another answer look the same).
int DloadNop(ProgrammerSession& session);

// Reads and checks the whole Intel-HEX file, then uploads it and sends GO. The file must hold
// well-formed records with data, an end-of-file record and nothing after it.
// 0; 110 when the file cannot be opened; kErrorTooManyOpenFiles or kErrorNotEnoughMemory when
// the PC could not read it; 13 when it is damaged or not a whole programmer (a console line, and
// `*problem` when given, name the file, the line and the fault; nothing is sent); 29 when a
// WRITE_32BIT or GO is not acknowledged (the upload stops at once and GO is never sent after a
// refused packet).
int UploadHexProgrammer(const std::filesystem::path& path, ProgrammerSession& session,
                        std::string* problem = nullptr);

}  // namespace veltrix
