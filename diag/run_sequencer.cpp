#include "diag/run_sequencer.h"

#include <cstdint>

#include "base/text_format.h"
#include "diag/ap_check.h"
#include "diag/board_tests.h"
#include "diag/model_table.h"
#include "diag/run_context.h"
#include "diag/run_endings.h"
#include "diag/run_state.h"
#include "link/serial_link.h"
#include "protocol/streaming.h"

namespace veltrix {
namespace {

// GetPhysicalPartitionInfo answers 6 when its exchange fails; a device of exactly 6 sectors is
// taken as that failure too.
constexpr int64_t kPartitionInfoFailed = kErrorInvalidHandle;
// After the eMMC test of a DDR-image model the board is reset and given time to come back.
constexpr uint32_t kDdrImageResetWaitMs = 3000;

constexpr const char* kPmicNotSupportedText =
    "In the case of Fenrow,Marlo,Mossel and Tibbet, PMIC test is NOT supported";

bool IsDdrImageModel(const RunPass& p) {
    return ModelClass(p.state.selections.model, ModelQuery::DdrImageFamily) == kDdrDebugImage;
}

void Complete(const RunPass& p) {
    CompleteRun(p.ctx, *p.session.link, p.state);
}

void Abort(const RunPass& p) {
    AbortRun(p.ctx, *p.session.link, p.state);
}

void CloseSection(const RunPass& p) {
    p.ctx.Log(kSectionEndLine);
    p.ctx.Log(kEmptyLine);
}

// The AP check of every branch; after a DDR wait it only waits for the board and reconnects, and
// may ask once for a retry pass (21).
int CheckAp(const RunPass& p) {
    RunState& state = p.state;
    if (!state.ddrWaiting) {
        return p.tests.CheckAp();
    }
    constexpr uint32_t kMsPerSecond = 1000;
    const uint32_t boardWaitMs = state.selections.boardWaitSeconds * kMsPerSecond;
    const int result = p.tests.ReconnectAfterDdrTest(!state.apRetried, boardWaitMs);
    if (result == kErrorNotReady) {
        state.apRetried = true;
    }
    return result;
}

// Ending shared by the branches: the flash cannot be opened.
void FailFlashOpen(const RunPass& p) {
    p.ctx.Log("Failed to open partition from EMMC\n");
    p.ctx.SetResult(ResultBox::kEmmc, kResultFail);
    Abort(p);
}

// Ending shared by the branches: phase 1 of the SDRAM test has reset the board; the worker waits
// for its verdict. `running` stays set.
void HandOver(const RunPass& p) {
    p.ctx.Log("Device Reset!!\n");
    p.session.link->Close();
}

// The phase of the two-phase SDRAM test that `ddrWaiting` calls for; its success moves the flag.
int RunSdramImageTest(const RunPass& p) {
    RunState& state = p.state;
    if (!state.ddrWaiting) {
        const int result = p.tests.SdramTestPhase1(state.sdramLeftovers);
        state.ddrWaiting = result == kErrorSuccess;
        return result;
    }
    const int result = p.tests.SdramTestPhase2(state.sdramLeftovers);
    if (result == kErrorSuccess) {
        state.ddrWaiting = false;
    }
    return result;
}

// How a pass ends once an SDRAM test has given its result.
void SettleSdramResult(const RunPass& p, int result) {
    if (result == kErrorWriteFault || result == kErrorReadFault) {
        p.ctx.SetResult(ResultBox::kEmmc, kResultFail);
        Abort(p);
    } else if (result != kErrorSuccess) {
        Abort(p);
    } else if (p.state.ddrWaiting) {
        HandOver(p);
    } else {
        Complete(p);
    }
}

// Branch 1: PMIC control.
void RunPmicBranch(const RunPass& p) {
    if (CheckAp(p) != kErrorSuccess) {
        Abort(p);
        return;
    }
    p.ctx.Log("======== PMIC CONTROL START\n");
    const int family = ModelClass(p.state.selections.model, ModelQuery::PmicFamily);
    if (family == kPmicNotSupported) {
        p.ctx.Log(Format("%s\n", kPmicNotSupportedText));
        p.ctx.ShowMessage(Format("%s.  ", kPmicNotSupportedText));
        p.ctx.NoteFailure("PMIC test not supported on this model");
        Abort(p);
        return;
    }
    // The run completes whatever the result; its record keeps a failure, so that it does not
    // read as passed. A cancelled run ends as aborted instead: its PMIC step was not judged.
    if (p.tests.PmicControl() != kErrorSuccess && !p.ctx.Cancelled()) {
        p.ctx.record().pmicFailed = true;
    }
    CloseSection(p);
    Complete(p);
}

// Branch 2: boot-image restore.
void RunRestoreBranch(const RunPass& p) {
    if (CheckAp(p) != kErrorSuccess) {
        Abort(p);
        return;
    }
    p.ctx.Log("======== BOOT IMAGE WRITE START\n");
    if (OpenPartition(p.session) != kErrorSuccess) {
        FailFlashOpen(p);
        return;
    }
    if (p.tests.RestoreBootImages(p.state.selections.restoreLabel) != kErrorSuccess) {
        Abort(p);
        return;
    }
    p.ctx.Log("Boot images download completed.\n");
    CloseSection(p);
    Complete(p);
}

enum class EmmcOutcome { kPassEnded, kContinueWithSdram };

// Branch 3, steps 8 to 10: what follows a passed eMMC test.
EmmcOutcome FollowPassedEmmcTest(const RunPass& p) {
    if (!p.state.selections.sdramTest) {
        Complete(p);
        return EmmcOutcome::kPassEnded;
    }
    if (IsDdrImageModel(p)) {
        // The level test needs the DDR-debug image: restart the board into download mode.
        ClosePartition(p.session);
        ResetTarget(p.session);
        p.ctx.record().programmerRunning = false;
        p.session.link->Close();
        p.ctx.Wait(kDdrImageResetWaitMs);
        return EmmcOutcome::kContinueWithSdram;
    }
    // The flash programmer still runs: phase 1 of the two-phase test follows at once.
    const int result = RunSdramImageTest(p);
    if (result != kErrorSuccess) {
        Abort(p);  // the EMMC box keeps its "PASS"
    } else if (p.state.ddrWaiting) {
        HandOver(p);
    } else {
        Complete(p);
    }
    return EmmcOutcome::kPassEnded;
}

// Branch 3: eMMC test. Every path ends the pass except the one that goes on to the DDR-debug
// image of branch 4.
EmmcOutcome RunEmmcBranch(const RunPass& p) {
    RunState& state = p.state;
    if (CheckAp(p) != kErrorSuccess) {
        Abort(p);
        return EmmcOutcome::kPassEnded;
    }
    p.ctx.Log("======== EMMC TEST START\n");
    if (OpenPartition(p.session) != kErrorSuccess) {
        FailFlashOpen(p);
        return EmmcOutcome::kPassEnded;
    }
    state.totalSectors = GetPhysicalPartitionInfo(p.session);
    if (state.totalSectors == kPartitionInfoFailed) {
        p.ctx.Log("Failed to get physical partition info\n");
        p.ctx.SetResult(ResultBox::kEmmc, kResultFail);
        Abort(p);
        return EmmcOutcome::kPassEnded;
    }
    p.ctx.Log(Format("total sector size = 0x%x\n",
                     static_cast<unsigned>(static_cast<uint64_t>(state.totalSectors))));
    const EmmcChoice choice{state.emmcOption, state.selections.partitionLabel,
                            state.selections.dump, state.totalSectors};
    if (const int result = p.tests.TestEmmc(choice); result != kErrorSuccess) {
        // A test the operator cancelled says nothing about the flash: its box is left alone.
        if (result != kErrorOperationAborted) {
            p.ctx.SetResult(ResultBox::kEmmc, kResultFail);
        }
        Abort(p);
        return EmmcOutcome::kPassEnded;
    }
    p.ctx.SetResult(ResultBox::kEmmc, kResultPass);
    p.ctx.Log("EMMC TEST = pass\n");
    CloseSection(p);
    return FollowPassedEmmcTest(p);
}

// Branch 4, SDRAM test selected: the level test through the DDR-debug image, or a phase of the
// two-phase test behind the flash programmer. After the board's reset of branch 3 its port is
// given `portWaitMs` to come back.
void RunSdramSection(const RunPass& p, uint32_t portWaitMs) {
    RunState& state = p.state;
    if (IsDdrImageModel(p) && !state.ddrWaiting) {
        if (p.tests.CheckApWithDdrImage(portWaitMs) != kErrorSuccess) {
            Abort(p);
            return;
        }
        SettleSdramResult(p, p.tests.SdramLevelTest(state.ddrLevel));
        return;
    }
    const int apResult = CheckAp(p);
    if (apResult == kErrorNotReady) {
        return;  // no ending: the worker's retry pass follows
    }
    if (apResult != kErrorSuccess) {
        Abort(p);
        return;
    }
    if (OpenPartition(p.session) != kErrorSuccess) {
        FailFlashOpen(p);
        return;
    }
    SettleSdramResult(p, RunSdramImageTest(p));
}

// Branch 4: the SDRAM section, or the AP check alone.
void RunSdramBranch(const RunPass& p, uint32_t portWaitMs = 0) {
    if (p.state.selections.sdramTest) {
        RunSdramSection(p, portWaitMs);
        return;
    }
    if (p.state.selections.apCheck) {
        if (CheckAp(p) == kErrorSuccess) {
            Complete(p);
        } else {
            Abort(p);
        }
    }
}

}  // namespace

void RunSequencer(const RunPass& pass) {
    const RunState& state = pass.state;
    const RunSelections& s = state.selections;
    if (s.model.empty()) {  // branch 0
        pass.ctx.Log("Please select Model Name(AP chipset).\n");
        Abort(pass);
    } else if (s.pmicOn) {  // branch 1
        RunPmicBranch(pass);
    } else if (s.restoreBootImage) {  // branch 2
        RunRestoreBranch(pass);
    } else if (s.emmcTest && !state.ddrWaiting) {  // branch 3, which may go on to branch 4
        if (RunEmmcBranch(pass) == EmmcOutcome::kContinueWithSdram) {
            RunSdramBranch(pass, kReconnectWindowMs);
        }
    } else {  // branch 4
        RunSdramBranch(pass);
    }
}

}  // namespace veltrix
