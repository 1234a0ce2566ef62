#include "sim/dload_rom.h"

namespace veltrix::sim {
namespace {

constexpr size_t kWriteHeader = 7;  // code, address (4), length (2)
constexpr size_t kGoLength = 5;     // code, address (4)

}  // namespace

Bytes DloadRom::Nak(uint16_t reason) {
    Bytes out{kDloadNak};
    PutBe16(out, reason);
    return out;
}

DloadReply DloadRom::Handle(std::span<const uint8_t> request) {
    if (request.empty()) {
        return {Nak(kNakEarlyEnd)};
    }
    switch (request[0]) {
        case kDloadNop:
            return {Bytes{kDloadAck}};
        case kDloadWrite32:
            return Write32(request);
        case kDloadGo:
            return Go(request);
        default:
            return {Nak(kNakInvalidCommand)};
    }
}

DloadReply DloadRom::Write32(std::span<const uint8_t> request) {
    if (request.size() < kWriteHeader) {
        return {Nak(kNakEarlyEnd)};
    }
    const uint32_t address = GetBe32(request, 1);
    const uint16_t length = GetBe16(request, 5);
    if (length > options_.dloadMaxWrite) {
        return {Nak(kNakTooLarge)};
    }
    if (request.size() != kWriteHeader + length) {
        return {Nak(request.size() < kWriteHeader + length ? kNakEarlyEnd : kNakInvalidLength)};
    }
    const uint64_t end = uint64_t{address} + length;
    const uint64_t ramEnd = uint64_t{options_.dloadRamBase} + options_.dloadRamSize;
    if (address < options_.dloadRamBase || end > ramEnd || end > (1ull << 32)) {
        return {Nak(kNakInvalidDestination)};
    }
    memory_.Write(address, request.subspan(kWriteHeader));
    return {Bytes{kDloadAck}};
}

DloadReply DloadRom::Go(std::span<const uint8_t> request) {
    if (request.size() != kGoLength) {
        return {Nak(request.size() < kGoLength ? kNakEarlyEnd : kNakInvalidLength)};
    }
    goAddress_ = GetBe32(request, 1);
    return {Bytes{kDloadAck}, true};
}

}  // namespace veltrix::sim
