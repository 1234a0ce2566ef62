#include "diag/sdram_level_test.h"

#include <array>
#include <cstdint>
#include <span>

#include "base/text_format.h"
#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "diag/workbench.h"
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
bool Exchange(Workbench& bench, std::span<const uint8_t> packet, int& outcome) {
    if (RunDdrTest(outcome, bench.state.session, packet.data(), static_cast<int>(packet.size())) !=
        kErrorSuccess) {
        outcome = kDdrOutcomeUnknown;
    }
    return !RunCancelled(bench);
}

// A start exchange without a verdict (no reply, or no '0' or '1' at its index 3) leaves the box
// and the log as they are; the run record keeps it, so the run does not read as passed.
void ShowVerdict(Workbench& bench, int outcome) {
    if (outcome == kDdrOutcomeFail) {
        SetResult(bench, ResultBox::kSdram, kResultFail);
        AppendLog(bench, "DDR TEST = FAIL\n");
    } else if (outcome == kDdrOutcomePass) {
        SetResult(bench, ResultBox::kSdram, kResultPass);
        AppendLog(bench, "DDR TEST = PASS\n");
    } else {
        bench.state.record.sdramNoVerdict = true;
        AppendLog(bench, "No DDR test verdict came from the board\n");
    }
}

}  // namespace

int RunSdramLevelTest(Workbench& bench, int comPort) {
    const uint32_t level = bench.state.ddrLevel;
    AppendLog(bench, "======== DDR TEST START\n");
    AppendLog(bench, LevelLine(level));
    ClosePort(bench.link);
    if (OpenPort(bench.link, comPort) != kErrorSuccess) {
        AppendLog(bench, "Serial port open FAILED..\n");
        AppendLog(bench, PortFailureText(bench.link) + "\n");  // why, with the device
        return kErrorGenFailure;
    }
    int outcome = kDdrOutcomeUnknown;
    if (!Exchange(bench, kWakePacket, outcome)) {
        return kErrorOperationAborted;
    }
    if (level > 1) {
        AppendLog(bench, Format("Invalid DDR test level %d (It should be 0 or 1)\n",
                                static_cast<int>(level)));
        return kErrorGenFailure;
    }
    AppendLog(bench, "Waiting for DDR test..\n");
    // Only the start exchange's own reply carries the verdict: whatever the wake reply held at
    // its byte 3 is not one.
    outcome = kDdrOutcomeUnknown;
    if (!Exchange(bench, level == 0 ? std::span<const uint8_t>(kLevel0Packet) : kLevel1Packet,
                  outcome)) {
        return kErrorOperationAborted;
    }
    ShowVerdict(bench, outcome);
    if (!Exchange(bench, kLeavePacket, outcome) || !Exchange(bench, kClosePacket, outcome)) {
        return kErrorOperationAborted;
    }
    AppendLog(bench, kSectionEndLine);
    AppendLog(bench, kEmptyLine);
    return kErrorSuccess;
}

}  // namespace veltrix
