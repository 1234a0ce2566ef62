// The one-exchange commands of the streaming-download protocol.
#include "protocol/streaming.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/byte_order.h"
#include "base/text_format.h"
#include "link/framing/frame_codec.h"
#include "link/serial_link.h"
#include "protocol/command_exchange.h"
#include "protocol/streaming_requests.h"

namespace veltrix {
namespace {

// Reply areas (raw frame bytes) each command allows.
constexpr int kSmallReplyCapacity = 32;
constexpr int kDdrReplyCapacity = 1000;
constexpr int kPartitionInfoReplyCapacity = 128;
// Raw room for a PMIC reply of kPmicReplyCapacity unstuffed bytes: two flags and every byte
// escaped.
constexpr int kPmicRawCapacity = static_cast<int>(MaxEncodedLength(kPmicReplyCapacity));

constexpr size_t kReadAddressOffset = 1;
constexpr size_t kReadDataOffset = 5;
// The raw frame of the largest READ reply the caller's buffer takes, every byte escaped.
constexpr int kReadRawCapacity = static_cast<int>(MaxEncodedLength(kReadReplyCapacity));
constexpr int kPartitionInfoCountOffset = 5;
constexpr int kDdrVerdictOffset = 3;

// A one-byte (or fixed) command with a small reply, under the link's current time-out.
int SimpleCommand(ProgrammerSession& session, std::span<const uint8_t> request, uint8_t expected) {
    if (session.link == nullptr) {
        return kErrorInvalidHandle;
    }
    std::array<uint8_t, kSmallReplyCapacity> reply{};
    int replyLength = 0;
    return ExchangeCommand(*session.link, request, expected, reply.data(), kSmallReplyCapacity,
                           replyLength)
               ? kErrorSuccess
               : kErrorInvalidHandle;
}

// The two PMIC requests: one byte out, a reply of at most kPmicReplyCapacity unstuffed bytes
// back. Every reply byte may arrive escaped, so the raw frame gets the worst case of room; the
// caller's buffer holds the unstuffed reply.
int PmicExchange(uint8_t command, uint8_t* out, ProgrammerSession& session, int* replyLength) {
    if (replyLength != nullptr) {
        *replyLength = 0;
    }
    if (session.link == nullptr || out == nullptr) {
        return kErrorInvalidHandle;
    }
    const uint8_t request[] = {command};
    std::array<uint8_t, kPmicRawCapacity> reply{};
    int length = kPmicRawCapacity;
    if (session.link->Transact(request, 1, reply.data(), length) != kErrorSuccess || length <= 0) {
        return kErrorInvalidHandle;
    }
    if (length > kPmicReplyCapacity) {
        session.link->WriteConsole(
            Format("PMIC reply of %d bytes is longer than %d, reply dropped\n", length,
                   kPmicReplyCapacity));
        return kErrorInvalidHandle;
    }
    std::memcpy(out, reply.data(), static_cast<size_t>(length));
    if (replyLength != nullptr) {
        *replyLength = length;
    }
    return out[0] == kReplyPmic ? kErrorSuccess : kErrorInvalidHandle;
}

}  // namespace

int ReadData(int length, uint8_t* out, ProgrammerSession& session, uint32_t address) {
    if (length < 0 || static_cast<size_t>(length) > kReadMaxLength || out == nullptr ||
        session.link == nullptr) {
        return kErrorInvalidHandle;
    }
    const auto request = BuildReadRequest(address, static_cast<uint16_t>(length));
    // The reply is judged by its raw frame, flags and escapes included: a sector of 0x7E and
    // 0x7D bytes nearly doubles on the wire, so the work area holds the worst case and the
    // unstuffed reply must then fit the caller's kReadReplyCapacity bytes.
    std::array<uint8_t, kReadRawCapacity> reply;
    int replyLength = 0;
    {
        TimeoutBracket bracket(*session.link, kReadTimeoutMs);
        if (!ExchangeCommand(*session.link, request, kReplyRead, reply.data(), kReadRawCapacity,
                             replyLength)) {
            return kErrorInvalidHandle;
        }
    }
    // A reply too short for the data asked for, or for another address, would hand the caller
    // stale or foreign bytes as the flash data of this address; one longer than asked is not the
    // answer to this request either, and the caller gets no more than it asked for.
    const size_t needed = kReadDataOffset + static_cast<size_t>(length) + kFcsLength;
    if (static_cast<size_t>(replyLength) != needed) {
        session.link->WriteConsole(Format("READ reply of %d bytes, expected %u\n", replyLength,
                                          static_cast<unsigned>(needed)));
        return kErrorInvalidHandle;
    }
    if (const uint32_t echoed = GetLe32(&reply[kReadAddressOffset]); echoed != address) {
        session.link->WriteConsole(
            Format("READ reply for address 0x%x, asked 0x%x\n", echoed, address));
        return kErrorInvalidHandle;
    }
    std::memcpy(out, reply.data(), static_cast<size_t>(replyLength));
    return kErrorSuccess;
}

int ReadCheck(uint32_t byteCount, uint32_t startSector, ProgrammerSession& session) {
    if (session.link == nullptr) {
        return kErrorInvalidHandle;
    }
    TimeoutBracket bracket(*session.link, kReadTimeoutMs);
    return SimpleCommand(session, BuildReadCheckRequest(startSector, byteCount), kReplyRead);
}

int GetPmicStatus(uint8_t* out, ProgrammerSession& session, int* replyLength) {
    return PmicExchange(kCmdPmicStatus, out, session, replyLength);
}

int PmicOn(uint8_t* out, ProgrammerSession& session, int* replyLength) {
    return PmicExchange(kCmdPmicOn, out, session, replyLength);
}

int EraseFlash(ProgrammerSession& session) {
    if (session.link == nullptr) {
        return kErrorInvalidHandle;
    }
    TimeoutBracket bracket(*session.link, kEraseTimeoutMs);
    const uint8_t request[] = {kCmdEraseFlash};
    return SimpleCommand(session, request, kReplyEraseFlash);
}

int RunDdrTest(int& result, ProgrammerSession& session, const uint8_t* packet, int length) {
    if (session.link == nullptr || length < 0 || (length > 0 && packet == nullptr)) {
        return kErrorInvalidHandle;
    }
    TimeoutBracket bracket(*session.link, kDdrTestTimeoutMs);
    std::array<uint8_t, kDdrReplyCapacity> reply{};
    int replyLength = kDdrReplyCapacity;
    if (session.link->Transact(packet, length, reply.data(), replyLength) != kErrorSuccess) {
        return kErrorInvalidHandle;
    }
    // The verdict is a byte of the reply body: a body of fewer than four bytes has none, whatever
    // its frame-check bytes hold.
    const int bodyLength = replyLength - static_cast<int>(kFcsLength);
    const uint8_t verdict = bodyLength > kDdrVerdictOffset ? reply[kDdrVerdictOffset] : 0;
    result = verdict == '0'   ? kDdrOutcomeFail
             : verdict == '1' ? kDdrOutcomePass
                              : kDdrOutcomeUnknown;
    return kErrorSuccess;
}

int ResetTarget(ProgrammerSession& session) {
    const uint8_t request[] = {kCmdReset};
    return SimpleCommand(session, request, kReplyReset);
}

int OpenPartition(ProgrammerSession& session) {
    if (session.link == nullptr) {
        return kErrorInvalidHandle;
    }
    session.link->Purge();
    const int rc = SimpleCommand(session, BuildOpenMultiImageRequest(), kReplyOpenMultiImage);
    if (rc != kErrorSuccess) {
        session.link->WriteConsole("Could not open partition\n");
    }
    return rc;
}

int ClosePartition(ProgrammerSession& session) {
    const uint8_t request[] = {kCmdClose};
    return SimpleCommand(session, request, kReplyClose);
}

int64_t GetPhysicalPartitionInfo(ProgrammerSession& session) {
    if (session.link == nullptr) {
        return kErrorInvalidHandle;
    }
    const auto request = BuildPhysicalPartitionInfoRequest();
    std::array<uint8_t, kPartitionInfoReplyCapacity> reply{};
    int replyLength = 0;
    if (!ExchangeCommand(*session.link, request, kReplyPmic, reply.data(),
                         kPartitionInfoReplyCapacity, replyLength) ||
        replyLength < kPartitionInfoCountOffset + 4 + static_cast<int>(kFcsLength)) {
        return kErrorInvalidHandle;
    }
    // The count is a u32 on the wire; callers have always received it sign-extended.
    return static_cast<int32_t>(GetLe32(&reply[kPartitionInfoCountOffset]));
}

}  // namespace veltrix
