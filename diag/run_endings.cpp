#include "diag/run_endings.h"

#include <array>
#include <cstdint>

#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "diag/workbench.h"
#include "protocol/streaming_requests.h"

namespace veltrix {
namespace {

constexpr int kEndingReplyCapacity = 32;

void SendUnchecked(Workbench& bench, uint8_t command) {
    const std::array<uint8_t, 1> request{command};
    std::array<uint8_t, kEndingReplyCapacity> reply{};
    int replyLength = kEndingReplyCapacity;
    bench.steps.Transact(bench, request.data(), static_cast<int>(request.size()), reply.data(),
                         replyLength);
}

}  // namespace

void CompleteRun(Workbench& bench) {
    if (RunCancelled(bench)) {
        AbortRun(bench);  // a cancelled run never reads as completed
        return;
    }
    SendUnchecked(bench, kCmdClose);
    SendUnchecked(bench, kCmdReset);
    AppendLog(bench, "Test Completed !!\n");
    bench.steps.ClosePort(bench);
    bench.state.record.ending = RunEnding::kCompleted;
    bench.state.running = false;
}

void AbortRun(Workbench& bench) {
    if (RunCancelled(bench)) {
        bench.state.record.cancelled = true;
        AppendLog(bench, "Test cancelled by the operator\n");
    }
    if (bench.state.testImagesOnBoard) {
        bench.state.testImagesOnBoard = false;
        bench.state.record.bootImagesNotRestored = true;
        AppendLog(bench, kBootImagesNotRestoredLine);
    }
    bench.steps.ClosePort(bench);
    bench.state.record.ending = RunEnding::kAborted;
    bench.state.running = false;
    bench.state.ddrWaiting = false;
    AppendLog(bench, "TEST aborted!!\n");
}

}  // namespace veltrix
