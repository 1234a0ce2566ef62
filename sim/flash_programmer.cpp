#include "sim/flash_programmer.h"

#include <algorithm>
#include <string>

#include "link/framing/fcs.h"
#include "sim/pmic_status.h"

namespace veltrix::sim {
namespace {

constexpr std::string_view kHostMagic = "QCOM fast download protocol host";
constexpr std::string_view kTargetMagic = "QCOM fast download protocol targ";
constexpr size_t kHelloLength = 36;
constexpr uint8_t kProtocolVersion = 0x04;
constexpr uint8_t kCompatibleVersion = 0x02;
constexpr uint8_t kFeatureBits = 0x11;
constexpr std::string_view kFlashId = "eMMC";

constexpr size_t kPartitionInfoLength = 38;
constexpr size_t kPartitionInfoMarkerAt = 34;
constexpr uint16_t kPartitionInfoMarker = 0xDEAD;
constexpr size_t kPartitionInfoCrcAt = 36;

// A reply with its code byte and room for what follows. (Growing a one-byte vector braced from
// the code trips false -Warray-bounds reports in GCC 12 at -O3.)
Bytes StartReply(uint8_t code, size_t room) {
    Bytes out;
    out.reserve(1 + room);
    out.push_back(code);
    return out;
}

void PutText(Bytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

// The texts stay short: with its code and FCS an error reply fits the 32-byte reply buffer the
// host gives most commands.
Bytes FlashProgrammer::ErrorReply(uint32_t code, std::string_view text) {
    Bytes out = StartReply(kRspError, 4 + text.size());
    PutLe32(out, code);
    PutText(out, text);
    return out;
}

Bytes FlashProgrammer::LogReply(std::string_view text) {
    Bytes out = StartReply(kRspLog, text.size());
    PutText(out, text);
    return out;
}

ProgrammerReply FlashProgrammer::Handle(std::span<const uint8_t> request) {
    if (request.empty()) {
        return {ErrorReply(kErrBadLength, "empty request")};
    }
    const uint8_t code = request[0];
    if (code == kCmdHello) {
        return {Hello(request)};
    }
    if (!helloDone_) {
        return {ErrorReply(kErrNoHello, "HELLO first")};
    }
    switch (code) {
        case kCmdSecurityMode:
            return {request.size() == 2 ? Bytes{kRspSecurityMode}
                                        : ErrorReply(kErrBadLength, "bad SECURITY MODE")};
        case kCmdOpenMultiImage:
            return {OpenImage(request)};
        case kCmdClose:
            imageOpen_ = false;
            return {Bytes{kRspClose}};
        case kCmdPmicStatus:
            return {PmicReply()};
        case kCmdPmicOn:
            pmicOn_ = true;
            return {PmicReply()};
        case kCmdPartitionInfo:
            return {PartitionInfo(request)};
        case kCmdReset:
            return {Bytes{kRspReset}, true};
        case kCmdRead:
        case kCmdReadCheck:
        case kCmdStreamWrite:
        case kCmdErase:
            return {imageOpen_ ? FlashCommand(request) : ErrorReply(kErrNotOpen, "no image open")};
        default:
            return {ErrorReply(kErrInvalidCommand, "invalid command")};
    }
}

Bytes FlashProgrammer::FlashCommand(std::span<const uint8_t> request) {
    switch (request[0]) {
        case kCmdRead:
            return Read(request);
        case kCmdReadCheck:
            return ReadCheck(request);
        case kCmdStreamWrite:
            return StreamWrite(request);
        default:
            return Erase();
    }
}

Bytes FlashProgrammer::Hello(std::span<const uint8_t> request) {
    const bool magicOk = request.size() == kHelloLength &&
                         std::equal(kHostMagic.begin(), kHostMagic.end(), request.begin() + 1);
    if (!magicOk) {
        return ErrorReply(kErrBadLength, "bad HELLO");
    }
    helloDone_ = true;
    imageOpen_ = false;
    Bytes out = StartReply(kRspHello, 64);
    PutText(out, kTargetMagic);
    out.push_back(kProtocolVersion);
    out.push_back(kCompatibleVersion);
    PutLe32(out, kMaxStreamBlock);
    PutLe32(out, 0);  // flash base address
    out.push_back(static_cast<uint8_t>(kFlashId.size()));
    PutText(out, kFlashId);
    PutLe16(out, 1);  // window size
    PutLe16(out, 0);  // sector count field, unused by eMMC
    out.push_back(kFeatureBits);
    return out;
}

Bytes FlashProgrammer::OpenImage(std::span<const uint8_t> request) {
    if (request.size() != 2) {
        return ErrorReply(kErrBadLength, "bad OPEN MULTI-IMAGE");
    }
    imageOpen_ = true;
    sectorAddressing_ = request[1] == kImageTypeEmmcSectors;
    return Bytes{kRspOpenMultiImage, 0x00};
}

uint64_t FlashProgrammer::ByteOffset(uint32_t address) const {
    return sectorAddressing_ ? uint64_t{address} * kSectorSize : address;
}

Bytes FlashProgrammer::Read(std::span<const uint8_t> request) {
    if (request.size() != 7) {
        return ErrorReply(kErrBadLength, "bad READ");
    }
    const uint32_t address = GetLe32(request, 1);
    const uint16_t length = GetLe16(request, 5);
    if (length > kMaxReadLength) {
        return ErrorReply(kErrBadLength, "READ too long");
    }
    // Code, address, then the data read straight into the answer.
    Bytes out{kRspRead};
    PutLe32(out, address);
    out.resize(out.size() + length);
    if (!emmc_.Read(ByteOffset(address), std::span(out).subspan(out.size() - length))) {
        return ErrorReply(kErrOutOfRange, "READ out of range");
    }
    return out;
}

Bytes FlashProgrammer::ReadCheck(std::span<const uint8_t> request) {
    if (request.size() != 9) {
        return ErrorReply(kErrBadLength, "bad READ CHECK");
    }
    const uint32_t sector = GetLe32(request, 1);
    const uint32_t count = GetLe32(request, 5);
    if (!emmc_.ReadCheck(uint64_t{sector} * kSectorSize, count)) {
        return ErrorReply(kErrOutOfRange, "READ CHECK failed");
    }
    Bytes out{kRspRead};
    PutLe32(out, sector);
    return out;
}

Bytes FlashProgrammer::StreamWrite(std::span<const uint8_t> request) {
    if (request.size() < 5 || request.size() - 5 > kMaxStreamBlock) {
        return ErrorReply(kErrBadLength, "bad write length");
    }
    const uint32_t address = GetLe32(request, 1);
    const auto data = request.subspan(5);
    const uint64_t offset = ByteOffset(address);
    if (!emmc_.Write(offset, data)) {
        return ErrorReply(kErrOutOfRange, "write out of range");
    }
    sdram_.NoteWrite(offset, data.size());
    Bytes out{kRspStreamWrite};
    PutLe32(out, address);
    return out;
}

Bytes FlashProgrammer::PmicReply() const {
    if (options_.pmicStatus.empty()) {
        return PmicStatusReply(options_.pmicFamily, pmicOn_);
    }
    Bytes out = StartReply(kPmicReplyCode, options_.pmicStatus.size());
    out.insert(out.end(), options_.pmicStatus.begin(), options_.pmicStatus.end());
    return out;
}

Bytes FlashProgrammer::Erase() {
    if (!emmc_.Erase()) {
        return ErrorReply(kErrFlash, "erase failed");
    }
    return Bytes{kRspErase};
}

Bytes FlashProgrammer::PartitionInfo(std::span<const uint8_t> request) {
    if (request.size() != kPartitionInfoLength ||
        GetLe16(request, kPartitionInfoMarkerAt) != kPartitionInfoMarker ||
        GetLe16(request, kPartitionInfoCrcAt) != Fcs16(request.subspan(1, 35))) {
        return ErrorReply(kErrBadLength, "bad partition info");
    }
    const uint32_t sectors =
        options_.reportedSectors.value_or(static_cast<uint32_t>(emmc_.size() / kSectorSize));
    Bytes out{kRspPartitionInfo};
    PutLe16(out, kSectorSize);
    out.push_back(0);  // physical partition: the user area
    out.push_back(1);  // number of physical partitions reported
    PutLe32(out, sectors);
    return out;
}

}  // namespace veltrix::sim
