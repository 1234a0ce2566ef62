#include "diag/sdram_level_test.h"

#include <array>
#include <cstdint>
#include <span>

#include "base/text_format.h"
#include "diag/run_context.h"
#include "link/serial_link.h"
#include "protocol/streaming.h"

namespace veltrix {
namespace {

// Packets of the DDR-debug image's menu: a carriage return wakes it and, after a test, leaves
// it; "1" and "2" start levels 0 and 1; "0" closes the menu.
constexpr std::array<uint8_t, 1> kWakePacket = {0x0D};
constexpr std::array<uint8_t, 2> kLevel0Packet = {0x31, 0x0D};
constexpr std::array<uint8_t, 2> kLevel1Packet = {0x32, 0x0D};
constexpr std::array<uint8_t, 1> kLeavePacket = {0x0D};
constexpr std::array<uint8_t, 2> kClosePacket = {0x30, 0x0D};

std::string LevelLine(uint32_t level) {
    switch (level) {
        case 0:
            return "TEST LEVEL = 0 (check data/address line)\n";
        case 1:
            return "TEST LEVEL = 1 (check accessing memory by word)\n";
        default:
            return Format("TEST LEVEL = %d\n", static_cast<int>(level));
    }
}

// One exchange with the image; its result is not judged, only whether the run goes on. An
// exchange that failed leaves `outcome` without a verdict.
bool Exchange(RunContext& ctx, ProgrammerSession& session, std::span<const uint8_t> packet,
              int& outcome) {
    if (RunDdrTest(outcome, session, packet.data(), static_cast<int>(packet.size())) !=
        kErrorSuccess) {
        outcome = kDdrOutcomeUnknown;
    }
    return !ctx.Cancelled();
}

// A start exchange without a verdict (no reply, or no '0' or '1' at its index 3) leaves the box
// and the log as they are; the run record keeps it, so the run does not read as passed.
void ShowVerdict(RunContext& ctx, int outcome) {
    if (outcome == kDdrOutcomeFail) {
        ctx.SetResult(ResultBox::kSdram, kResultFail);
        ctx.Log("DDR TEST = FAIL\n");
    } else if (outcome == kDdrOutcomePass) {
        ctx.SetResult(ResultBox::kSdram, kResultPass);
        ctx.Log("DDR TEST = PASS\n");
    } else {
        ctx.record().sdramNoVerdict = true;
        ctx.Log("No DDR test verdict came from the board\n");
    }
}

}  // namespace

int RunSdramLevelTest(RunContext& ctx, ProgrammerSession& session, uint32_t level) {
    SerialLink& link = *session.link;
    ctx.Log("======== DDR TEST START\n");
    ctx.Log(LevelLine(level));
    link.Close();
    if (link.Open() != kErrorSuccess) {
        ctx.Log("Serial port open FAILED..\n");
        ctx.Log(link.FailureText() + "\n");  // why, with the device
        ctx.NoteFailure("the port could not be opened again for the DDR test");
        return kErrorGenFailure;
    }
    int outcome = kDdrOutcomeUnknown;
    if (!Exchange(ctx, session, kWakePacket, outcome)) {
        return kErrorOperationAborted;
    }
    if (level > 1) {
        ctx.Log(
            Format("Invalid DDR test level %d (It should be 0 or 1)\n", static_cast<int>(level)));
        ctx.NoteFailure("invalid DDR test level");
        return kErrorGenFailure;
    }
    ctx.Log("Waiting for DDR test..\n");
    // Only the start exchange's own reply carries the verdict: whatever the wake reply held at
    // its byte 3 is not one.
    outcome = kDdrOutcomeUnknown;
    if (!Exchange(ctx, session,
                  level == 0 ? std::span<const uint8_t>(kLevel0Packet) : kLevel1Packet, outcome)) {
        return kErrorOperationAborted;
    }
    ShowVerdict(ctx, outcome);
    if (!Exchange(ctx, session, kLeavePacket, outcome) ||
        !Exchange(ctx, session, kClosePacket, outcome)) {
        return kErrorOperationAborted;
    }
    ctx.Log(kSectionEndLine);
    ctx.Log(kEmptyLine);
    return kErrorSuccess;
}

}  // namespace veltrix
