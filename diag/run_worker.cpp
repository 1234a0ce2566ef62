#include "diag/run_worker.h"

#include <system_error>

#include "base/text_format.h"
#include "diag/run_endings.h"
#include "diag/run_log.h"
#include "diag/run_sequencer.h"
#include "diag/workbench.h"
#include "link/serial_link.h"

namespace veltrix {
namespace {

constexpr int64_t kSecondsPerMinute = 60;
constexpr int64_t kSecondsPerHour = 3600;
constexpr int64_t kSecondsPerDay = 86400;

// Division rounding towards minus infinity, as the elapsed-time formula is written.
int64_t FloorDiv(int64_t value, int64_t divisor) {
    const int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

// Pass 1, and when it handed over to a DDR test on the board, pass 2 after the DDR wait and, if
// pass 2 asked for it, the one retry pass.
void RunPasses(Workbench& bench) {
    RunState& state = bench.state;
    RunSequencer(bench, state.comPort);
    if (!state.ddrWaiting) {
        return;
    }
    AppendLog(bench, "Waiting for DDR test....\n");
    if (!RunWait(bench, kDdrTestWaitMs)) {
        return;
    }
    RunSequencer(bench, state.comPort);
    if (bench.apRetried) {
        if (!RunWait(bench, kRetryWaitMs)) {
            return;
        }
        bench.apRetried = false;
        state.testImagesOnBoard = false;
        RunSequencer(bench, state.comPort);
    }
}

}  // namespace

bool RunInProgress(const Workbench& bench) {
    return bench.state.running || bench.workerActive;
}

int StartRun(Workbench& bench) {
    if (RunInProgress(bench)) {
        return kErrorBusy;
    }
    // The previous worker has finished its last step; collect its thread.
    JoinWorker(bench);
    bench.link.cancel = false;
    bench.state.running = true;
    bench.workerActive = true;
    try {
        bench.worker = std::thread([&bench] { RunWorker(bench); });
    } catch (const std::system_error&) {
        bench.state.running = false;
        bench.workerActive = false;
        bench.state.record.ending = RunEnding::kRefused;
        ClearProgramList(bench.state.programList);
        return kErrorNotEnoughMemory;
    }
    return kErrorSuccess;
}

void RunWorker(Workbench& bench) {
    RunState& state = bench.state;
    // A retry asked for in an earlier run must not use up this run's one retry.
    bench.apRetried = false;
    state.testImagesOnBoard = false;
    const int64_t start = bench.clock.NowSeconds();
    AppendLog(bench, Format("[%s]\n", state.model.c_str()));
    AppendLog(bench, kEmptyLine);

    RunPasses(bench);
    // The last pass ended with no ending (the retry pass asked for another retry, or the run was
    // cancelled during a wait): the run failed, and `running` must not stay set.
    if (state.running) {
        AbortRun(bench);
    }

    const int64_t elapsed = bench.clock.NowSeconds() - start;
    AppendLog(bench, ElapsedTimeLine(elapsed));
    ClearProgramList(state.programList);
    bench.workerActive = false;
}

void CancelRun(Workbench& bench) {
    bench.link.cancel = true;
}

bool RunCancelled(const Workbench& bench) {
    return bench.link.cancel;
}

bool RunWait(Workbench& bench, uint32_t ms) {
    return bench.clock.SleepUnlessCancelled(ms, bench.link.cancel);
}

void ShowRunMessage(Workbench& bench, const std::string& text) {
    if (!RunCancelled(bench)) {
        bench.view.ShowMessage(text);
    }
}

std::string ElapsedTimeLine(int64_t seconds) {
    const int64_t hours =
        FloorDiv(seconds, kSecondsPerHour) - 24 * FloorDiv(seconds, kSecondsPerDay);
    const int64_t minutes =
        FloorDiv(seconds, kSecondsPerMinute) - 60 * FloorDiv(seconds, kSecondsPerHour);
    const int64_t secs = seconds - 60 * FloorDiv(seconds, kSecondsPerMinute);
    return Format("Elapsed Time : %d hours %d minutes %d seconds\n", static_cast<int>(hours),
                  static_cast<int>(minutes), static_cast<int>(secs));
}

}  // namespace veltrix
