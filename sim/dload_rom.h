#pragma once
// The boot ROM's emergency-download (DLOAD) side: NOP is answered with ACK, WRITE_32BIT stores
// its data into the target memory, GO starts the uploaded program. What a real ROM refuses gets
// a NAK with its reason code (big-endian, as every DLOAD field).

#include <cstdint>
#include <span>

#include "sim/board_options.h"
#include "sim/target_memory.h"
#include "sim/wire.h"

namespace veltrix::sim {

inline constexpr uint8_t kDloadWrite32 = 0x0F;
inline constexpr uint8_t kDloadGo = 0x05;
inline constexpr uint8_t kDloadNop = 0x06;
inline constexpr uint8_t kDloadAck = 0x02;
inline constexpr uint8_t kDloadNak = 0x03;

// NAK reason codes of the DLOAD protocol.
inline constexpr uint16_t kNakInvalidFcs = 0x0001;
inline constexpr uint16_t kNakInvalidDestination = 0x0002;
inline constexpr uint16_t kNakInvalidLength = 0x0003;
inline constexpr uint16_t kNakEarlyEnd = 0x0004;
inline constexpr uint16_t kNakTooLarge = 0x0005;
inline constexpr uint16_t kNakInvalidCommand = 0x0006;
inline constexpr uint16_t kNakFailed = 0x0007;

struct DloadReply {
    Bytes body;                 // the reply before framing
    bool startProgram = false;  // GO was accepted: the uploaded program runs after the ACK
};

class DloadRom {
public:
    DloadRom(const BoardOptions& options, TargetMemory& memory)
        : options_(options), memory_(memory) {}

    // Answers one request body (FCS already checked and removed).
    DloadReply Handle(std::span<const uint8_t> request);
    // The NAK for a request whose FCS was wrong.
    static Bytes Nak(uint16_t reason);

    uint32_t goAddress() const { return goAddress_; }

private:
    DloadReply Write32(std::span<const uint8_t> request);
    DloadReply Go(std::span<const uint8_t> request);

    const BoardOptions& options_;
    TargetMemory& memory_;
    uint32_t goAddress_ = 0;
};

}  // namespace veltrix::sim
