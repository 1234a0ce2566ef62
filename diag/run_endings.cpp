#include "diag/run_endings.h"

#include <array>
#include <cstdint>

#include "diag/run_log.h"
#include "diag/workbench.h"

namespace veltrix {
namespace {

// One-byte streaming requests that leave the board in a clean state after a run.
constexpr uint8_t kStreamingClose = 0x15;
constexpr uint8_t kStreamingReset = 0x0B;
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
    SendUnchecked(bench, kStreamingClose);
    SendUnchecked(bench, kStreamingReset);
    AppendLog(bench, "Test Completed !!\n");
    bench.steps.ClosePort(bench);
    bench.state.running = false;
}

void AbortRun(Workbench& bench) {
    bench.steps.ClosePort(bench);
    bench.state.running = false;
    bench.state.ddrWaiting = false;
    AppendLog(bench, "TEST aborted!!\n");
}

}  // namespace veltrix
