#include "diag/run_sequencer.h"

#include <cstdint>

#include "base/text_format.h"
#include "diag/ap_check.h"
#include "diag/model_table.h"
#include "diag/run_endings.h"
#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "diag/workbench.h"

namespace veltrix {
namespace {

// GetPhysicalPartitionInfo answers 6 when its exchange fails; a device of exactly 6 sectors is
// taken as that failure too.
constexpr int64_t kPartitionInfoFailed = kErrorInvalidHandle;
// After the eMMC test of a DDR-image model the board is reset and given time to come back.
constexpr uint32_t kDdrImageResetWaitMs = 3000;

constexpr const char* kPmicNotSupportedText =
    "In the case of Fenrow,Marlo,Mossel and Tibbet, PMIC test is NOT supported";

bool IsDdrImageModel(const Workbench& bench) {
    return ModelClass(bench.state.model, ModelQuery::DdrImageFamily) == kDdrDebugImage;
}

void CloseSection(Workbench& bench) {
    AppendLog(bench, kSectionEndLine);
    AppendLog(bench, kEmptyLine);
}

// Ending shared by the branches: the flash cannot be opened.
void FailFlashOpen(Workbench& bench) {
    AppendLog(bench, "Failed to open partition from EMMC\n");
    SetResult(bench, ResultBox::kEmmc, kResultFail);
    AbortRun(bench);
}

// Ending shared by the branches: phase 1 of the SDRAM test has reset the board; the worker waits
// for its verdict. `running` stays set.
void HandOver(Workbench& bench) {
    AppendLog(bench, "Device Reset!!\n");
    bench.steps.ClosePort(bench);
}

// How a pass ends once an SDRAM test has given its result.
void SettleSdramResult(Workbench& bench, int result) {
    if (result == kErrorWriteFault || result == kErrorReadFault) {
        SetResult(bench, ResultBox::kEmmc, kResultFail);
        AbortRun(bench);
    } else if (result != kErrorSuccess) {
        AbortRun(bench);
    } else if (bench.state.ddrWaiting) {
        HandOver(bench);
    } else {
        CompleteRun(bench);
    }
}

// Branch 1: PMIC control.
void RunPmicBranch(Workbench& bench, int comPort) {
    if (bench.steps.RunApCheck(bench, comPort) != kErrorSuccess) {
        AbortRun(bench);
        return;
    }
    AppendLog(bench, "======== PMIC CONTROL START\n");
    if (ModelClass(bench.state.model, ModelQuery::PmicFamily) == kPmicNotSupported) {
        AppendLog(bench, Format("%s\n", kPmicNotSupportedText));
        ShowRunMessage(bench, Format("%s.  ", kPmicNotSupportedText));
        AbortRun(bench);
        return;
    }
    // The run completes whatever the result; its record keeps a failure, so that it does not
    // read as passed. A cancelled run ends as aborted instead: its PMIC step was not judged.
    if (bench.steps.RunPmicControl(bench) != kErrorSuccess && !RunCancelled(bench)) {
        bench.state.record.pmicFailed = true;
    }
    CloseSection(bench);
    CompleteRun(bench);
}

// Branch 2: boot-image restore.
void RunRestoreBranch(Workbench& bench, int comPort) {
    if (bench.steps.RunApCheck(bench, comPort) != kErrorSuccess) {
        AbortRun(bench);
        return;
    }
    AppendLog(bench, "======== BOOT IMAGE WRITE START\n");
    if (bench.steps.OpenPartition(bench) != kErrorSuccess) {
        FailFlashOpen(bench);
        return;
    }
    if (bench.steps.WriteBootImages(bench, bench.state.restoreLabel) != kErrorSuccess) {
        AbortRun(bench);
        return;
    }
    AppendLog(bench, "Boot images download completed.\n");
    CloseSection(bench);
    CompleteRun(bench);
}

enum class EmmcOutcome { kPassEnded, kContinueWithSdram };

// Branch 3, steps 8 to 10: what follows a passed eMMC test.
EmmcOutcome FollowPassedEmmcTest(Workbench& bench) {
    if (!bench.state.sdramTest) {
        CompleteRun(bench);
        return EmmcOutcome::kPassEnded;
    }
    if (IsDdrImageModel(bench)) {
        // The level test needs the DDR-debug image: restart the board into download mode.
        bench.steps.ClosePartition(bench);
        bench.steps.ResetTarget(bench);
        bench.steps.ClosePort(bench);
        RunWait(bench, kDdrImageResetWaitMs);
        return EmmcOutcome::kContinueWithSdram;
    }
    // The flash programmer still runs: phase 1 of the two-phase test follows at once.
    const int result = bench.steps.RunSdramImageTest(bench);
    if (result != kErrorSuccess) {
        AbortRun(bench);  // the EMMC box keeps its "PASS"
    } else if (bench.state.ddrWaiting) {
        HandOver(bench);
    } else {
        CompleteRun(bench);
    }
    return EmmcOutcome::kPassEnded;
}

// Branch 3: eMMC test. Every path ends the pass except the one that goes on to the DDR-debug
// image of branch 4.
EmmcOutcome RunEmmcBranch(Workbench& bench, int comPort) {
    RunState& state = bench.state;
    if (bench.steps.RunApCheck(bench, comPort) != kErrorSuccess) {
        AbortRun(bench);
        return EmmcOutcome::kPassEnded;
    }
    AppendLog(bench, "======== EMMC TEST START\n");
    if (bench.steps.OpenPartition(bench) != kErrorSuccess) {
        FailFlashOpen(bench);
        return EmmcOutcome::kPassEnded;
    }
    state.totalSectors = bench.steps.GetPhysicalPartitionInfo(bench);
    if (state.totalSectors == kPartitionInfoFailed) {
        AppendLog(bench, "Failed to get physical partition info\n");
        SetResult(bench, ResultBox::kEmmc, kResultFail);
        AbortRun(bench);
        return EmmcOutcome::kPassEnded;
    }
    AppendLog(bench, Format("total sector size = 0x%x\n",
                            static_cast<unsigned>(static_cast<uint64_t>(state.totalSectors))));
    if (const int result = bench.steps.RunEmmcTest(bench, state.emmcOption);
        result != kErrorSuccess) {
        // A test the operator cancelled says nothing about the flash: its box is left alone.
        if (result != kErrorOperationAborted) {
            SetResult(bench, ResultBox::kEmmc, kResultFail);
        }
        AbortRun(bench);
        return EmmcOutcome::kPassEnded;
    }
    SetResult(bench, ResultBox::kEmmc, kResultPass);
    AppendLog(bench, "EMMC TEST = pass\n");
    CloseSection(bench);
    return FollowPassedEmmcTest(bench);
}

// Branch 4, SDRAM test selected: the level test through the DDR-debug image, or a phase of the
// two-phase test behind the flash programmer.
void RunSdramSection(Workbench& bench, int comPort, uint32_t portWaitMs) {
    if (IsDdrImageModel(bench) && !bench.state.ddrWaiting) {
        if (bench.steps.RunDdrApCheck(bench, comPort, portWaitMs) != kErrorSuccess) {
            AbortRun(bench);
            return;
        }
        SettleSdramResult(bench, bench.steps.RunSdramLevelTest(bench, comPort));
        return;
    }
    const int apResult = bench.steps.RunApCheck(bench, comPort);
    if (apResult == kErrorNotReady) {
        return;  // no ending: the worker's retry pass follows
    }
    if (apResult != kErrorSuccess) {
        AbortRun(bench);
        return;
    }
    if (bench.steps.OpenPartition(bench) != kErrorSuccess) {
        FailFlashOpen(bench);
        return;
    }
    SettleSdramResult(bench, bench.steps.RunSdramImageTest(bench));
}

// Branch 4: the SDRAM section, or the AP check alone. After the board's reset of branch 3 its
// port is given `portWaitMs` to come back.
void RunSdramBranch(Workbench& bench, int comPort, uint32_t portWaitMs = 0) {
    if (bench.state.sdramTest) {
        RunSdramSection(bench, comPort, portWaitMs);
        return;
    }
    if (bench.state.apCheck) {
        if (bench.steps.RunApCheck(bench, comPort) == kErrorSuccess) {
            CompleteRun(bench);
        } else {
            AbortRun(bench);
        }
    }
}

}  // namespace

void RunSequencer(Workbench& bench, int comPort) {
    const RunState& state = bench.state;
    if (state.model.empty()) {  // branch 0
        AppendLog(bench, "Please select Model Name(AP chipset).\n");
        AbortRun(bench);
    } else if (state.pmicOn) {  // branch 1
        RunPmicBranch(bench, comPort);
    } else if (state.restoreBootImage) {  // branch 2
        RunRestoreBranch(bench, comPort);
    } else if (state.emmcTest && !state.ddrWaiting) {  // branch 3, which may go on to branch 4
        if (RunEmmcBranch(bench, comPort) == EmmcOutcome::kContinueWithSdram) {
            RunSdramBranch(bench, comPort, kReconnectWindowMs);
        }
    } else {  // branch 4
        RunSdramBranch(bench, comPort);
    }
}

}  // namespace veltrix
