#include "diag/pmic_control.h"

#include <array>
#include <string_view>

#include "base/text_format.h"
#include "diag/model_table.h"
#include "diag/run_context.h"
#include "link/framing/frame_codec.h"
#include "protocol/streaming.h"

namespace veltrix {
namespace {

constexpr uint8_t kRegulatorOnBit = 0x80;
constexpr std::string_view kStatusFailedLine = "FAIL to get PMIC status. ";
constexpr std::string_view kRailsMessage =
    "PMIC 전류측정 가능상태입니다.  \n\nYou can check PMIC power rail.  ";

// One print line per group; each "%d" takes the next status byte.
constexpr std::array<const char*, 6> kPm8941Lines = {
    "PM8941 S1~S3=%d,%d,%d",
    "PM8941 L1~L5=%d,%d,%d,%d,%d   L6~L10=%d,%d,%d,%d,%d",
    "PM8941 L11~L15=%d,%d,%d,%d,%d   L16~L20=%d,%d,%d,%d,%d",
    "PM8941 L21~L24=%d,%d,%d,%d",
    "PM8941 LVS1~LVS3=%d,%d,%d",
    "PM8841 S1~S5=%d,%d,%d,%d,%d",
};
constexpr std::array<const char*, 4> kPm8110Lines = {
    "PM8110 S1~S4=%d,%d,%d,%d",
    "PM8110 L1~L5=%d,%d,%d,%d,%d   L6~L10=%d,%d,%d,%d,%d",
    "PM8110 L11~L15=%d,%d,%d,%d,%d   L16~L20=%d,%d,%d,%d,%d",
    "PM8110 L21~L22=%d,%d",
};
constexpr std::array<const char*, 5> kPm8226Lines = {
    "PM8226 S1~S4=%d,%d,%d,%d",
    "PM8226 L1~L5=%d,%d,%d,%d,%d   L6~L10=%d,%d,%d,%d,%d",
    "PM8226 L11~L15=%d,%d,%d,%d,%d   L16~L20=%d,%d,%d,%d,%d",
    "PM8226 L21~L25=%d,%d,%d,%d,%d   L26~L28=%d,%d,%d",
    "PM8226 LVS1=%d",
};
constexpr std::array<const char*, 5> kPm8926Lines = {
    "PM8926 S1~S5=%d,%d,%d,%d,%d",
    "PM8926 L1~L5=%d,%d,%d,%d,%d   L6~L10=%d,%d,%d,%d,%d",
    "PM8926 L11~L15=%d,%d,%d,%d,%d   L16~L20=%d,%d,%d,%d,%d",
    "PM8926 L21~L25=%d,%d,%d,%d,%d   L26~L28=%d,%d,%d",
    "PM8926 LVS1=%d",
};
constexpr std::array<const char*, 1> kRawLines = {
    "PMIC KR0=%d   KR1=%d   KR2=%d   KR3=%d   LPASS=%d",
};

std::span<const char* const> LinesOf(int pmicFamily) {
    switch (pmicFamily) {
        case 4:
            return kPm8941Lines;
        case 5:
            return kPm8110Lines;
        case 6:
            return kPm8226Lines;
        case 7:
            return kPm8926Lines;
        default:
            return kRawLines;
    }
}

bool ShowsRawValues(int pmicFamily) {
    return LinesOf(pmicFamily).data() == kRawLines.data();
}

int CountValues(std::string_view format) {
    int count = 0;
    for (size_t at = format.find("%d"); at != std::string_view::npos;
         at = format.find("%d", at + 2)) {
        ++count;
    }
    return count;
}

// A reply as the programmer sent it: the code byte, the status bytes, the frame check.
struct PmicReply {
    std::array<uint8_t, kPmicReplyCapacity> bytes{};
    int length = 0;

    std::span<const uint8_t> StatusBytes() const {
        const int count = length - 1 - static_cast<int>(kFcsLength);
        return count > 0 ? std::span<const uint8_t>(bytes).subspan(1, static_cast<size_t>(count))
                         : std::span<const uint8_t>();
    }
};

// The status print of the model's family. A reply with fewer status bytes than the family has
// is said to be short, and its missing positions show "-": its frame-check bytes are not
// regulator values.
void PrintStatus(RunContext& ctx, int family, const PmicReply& reply) {
    const std::span<const uint8_t> status = reply.StatusBytes();
    const int expected = PmicStatusByteCount(family);
    if (static_cast<int>(status.size()) < expected) {
        ctx.Log(Format("PMIC status reply is short: %d of %d status bytes\n",
                       static_cast<int>(status.size()), expected));
    }
    for (const std::string& line : PmicStatusLines(family, status)) {
        ctx.Log(line);
    }
}

// One status request into a zeroed reply; false (logged) when it failed.
bool ReadStatus(RunContext& ctx, ProgrammerSession& session, PmicReply& reply) {
    reply = PmicReply{};
    if (GetPmicStatus(reply.bytes.data(), session, &reply.length) != kErrorSuccess) {
        ctx.Log(kStatusFailedLine);
        return false;
    }
    return true;
}

}  // namespace

int PmicStatusByteCount(int pmicFamily) {
    int count = 0;
    for (const char* format : LinesOf(pmicFamily)) {
        count += CountValues(format);
    }
    return count;
}

std::vector<std::string> PmicStatusLines(int pmicFamily, std::span<const uint8_t> statusBytes) {
    const bool raw = ShowsRawValues(pmicFamily);
    std::vector<std::string> lines;
    size_t next = 0;
    for (std::string_view format : LinesOf(pmicFamily)) {
        std::string line;
        size_t from = 0;
        for (size_t at = format.find("%d"); at != std::string_view::npos;
             at = format.find("%d", from)) {
            line.append(format.substr(from, at - from));
            if (next >= statusBytes.size()) {
                line += '-';
            } else {
                const uint8_t value = statusBytes[next];
                line += raw ? std::to_string(value) : ((value & kRegulatorOnBit) ? "1" : "0");
            }
            ++next;
            from = at + 2;
        }
        line.append(format.substr(from));
        lines.push_back(std::move(line));
    }
    return lines;
}

int RunPmicControl(RunContext& ctx, ProgrammerSession& session, int pmicFamily) {
    PmicReply reply;
    if (!ReadStatus(ctx, session, reply)) {
        return kErrorInvalidHandle;
    }
    PrintStatus(ctx, pmicFamily, reply);
    if (!ctx.Wait(kPmicSettleWaitMs)) {
        return kErrorOperationAborted;
    }
    reply = PmicReply{};
    if (PmicOn(reply.bytes.data(), session, &reply.length) != kErrorSuccess) {
        ctx.Log(Format("FAIL to set PMIC on. %d", reply.bytes[0]));
        return kErrorInvalidHandle;
    }
    ctx.Log("PMIC set on");
    if (!ctx.Wait(kPmicSettleWaitMs)) {
        return kErrorOperationAborted;
    }
    if (!ReadStatus(ctx, session, reply)) {
        return kErrorInvalidHandle;
    }
    PrintStatus(ctx, pmicFamily, reply);
    ctx.ShowMessage(kRailsMessage);
    return ctx.Cancelled() ? kErrorOperationAborted : kErrorSuccess;
}

}  // namespace veltrix
