#pragma once
// The flash programmer the host uploads, as the board runs it: the streaming-download command
// set over the simulated eMMC. Requests are parsed and replies built here, independently of the
// host's protocol code.
//
// Addressing: OPEN MULTI-IMAGE with image type 0x21 opens the whole eMMC by absolute sector
// number; from then on the READ and STREAM WRITE addresses count 512-byte sectors. Any other
// image type makes them count bytes. READ CHECK always takes a start sector. Flash commands
// before OPEN MULTI-IMAGE (or after CLOSE) are refused with an error reply, and every command
// but HELLO is refused before HELLO.

#include <cstdint>
#include <span>
#include <string_view>

#include "sim/board_options.h"
#include "sim/emmc_image.h"
#include "sim/sdram_test_image.h"
#include "sim/wire.h"

namespace veltrix::sim {

// Request and reply codes of the streaming-download protocol.
inline constexpr uint8_t kCmdHello = 0x01;
inline constexpr uint8_t kRspHello = 0x02;
inline constexpr uint8_t kCmdRead = 0x03;
inline constexpr uint8_t kRspRead = 0x04;
inline constexpr uint8_t kCmdStreamWrite = 0x07;
inline constexpr uint8_t kRspStreamWrite = 0x08;
inline constexpr uint8_t kCmdReset = 0x0B;
inline constexpr uint8_t kRspReset = 0x0C;
inline constexpr uint8_t kRspError = 0x0D;
inline constexpr uint8_t kRspLog = 0x0E;
inline constexpr uint8_t kCmdClose = 0x15;
inline constexpr uint8_t kRspClose = 0x16;
inline constexpr uint8_t kCmdSecurityMode = 0x17;
inline constexpr uint8_t kRspSecurityMode = 0x18;
inline constexpr uint8_t kCmdOpenMultiImage = 0x1B;
inline constexpr uint8_t kRspOpenMultiImage = 0x1C;
inline constexpr uint8_t kCmdErase = 0x1D;
inline constexpr uint8_t kRspErase = 0x1E;
inline constexpr uint8_t kCmdPartitionInfo = 0x23;
inline constexpr uint8_t kRspPartitionInfo = 0x24;
inline constexpr uint8_t kCmdReadCheck = 0x25;
inline constexpr uint8_t kCmdPmicOn = 0x26;
inline constexpr uint8_t kCmdPmicStatus = 0x27;

inline constexpr uint8_t kImageTypeEmmcSectors = 0x21;
inline constexpr uint32_t kMaxReadLength = 1024;
inline constexpr uint32_t kMaxStreamBlock = 1024;

// Error codes the programmer puts into its 0x0D error reply.
inline constexpr uint32_t kErrInvalidCommand = 0x01;
inline constexpr uint32_t kErrBadLength = 0x02;
inline constexpr uint32_t kErrOutOfRange = 0x03;
inline constexpr uint32_t kErrNotOpen = 0x04;
inline constexpr uint32_t kErrNoHello = 0x05;
inline constexpr uint32_t kErrFlash = 0x06;
inline constexpr uint32_t kErrBadFcs = 0x07;
inline constexpr uint32_t kErrRefused = 0x08;

struct ProgrammerReply {
    Bytes body;
    bool reset = false;  // RESET was answered: the board restarts after the reply
};

class FlashProgrammer {
public:
    FlashProgrammer(const BoardOptions& options, EmmcImage& emmc, SdramTestImage& sdram)
        : options_(options), emmc_(emmc), sdram_(sdram) {}

    ProgrammerReply Handle(std::span<const uint8_t> request);

    // 0x0D, error code u32, text. 0x0E, text.
    static Bytes ErrorReply(uint32_t code, std::string_view text);
    static Bytes LogReply(std::string_view text);

    bool pmicOn() const { return pmicOn_; }
    bool imageOpen() const { return imageOpen_; }

private:
    Bytes Hello(std::span<const uint8_t> request);
    Bytes OpenImage(std::span<const uint8_t> request);
    Bytes Read(std::span<const uint8_t> request);
    Bytes ReadCheck(std::span<const uint8_t> request);
    Bytes StreamWrite(std::span<const uint8_t> request);
    Bytes Erase();
    Bytes PmicReply() const;
    Bytes PartitionInfo(std::span<const uint8_t> request);
    Bytes FlashCommand(std::span<const uint8_t> request);
    uint64_t ByteOffset(uint32_t address) const;

    const BoardOptions& options_;
    EmmcImage& emmc_;
    SdramTestImage& sdram_;
    bool helloDone_ = false;
    bool imageOpen_ = false;
    bool sectorAddressing_ = false;
    bool pmicOn_ = false;
};

}  // namespace veltrix::sim
