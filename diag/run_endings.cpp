#include "diag/run_endings.h"

#include <array>
#include <cstdint>
#include <string>

#include "diag/run_context.h"
#include "diag/run_state.h"
#include "link/serial_link.h"
#include "protocol/streaming_requests.h"

namespace veltrix {
namespace {

constexpr int kEndingReplyCapacity = 32;

void SendUnchecked(SerialLink& link, uint8_t command) {
    const std::array<uint8_t, 1> request{command};
    std::array<uint8_t, kEndingReplyCapacity> reply{};
    int replyLength = kEndingReplyCapacity;
    link.Transact(request.data(), static_cast<int>(request.size()), reply.data(), replyLength);
}

// What the run leaves on the board, in the log and the record.
void LogWhatIsLeft(RunContext& ctx, RunState& state) {
    RunRecord& record = ctx.record();
    SdramLeftovers& leftovers = state.sdramLeftovers;
    if (leftovers.Any()) {
        record.bootImagesNotRestored = true;
        for (const std::string& label : leftovers.partitions) {
            record.NoteToRestore(label);
        }
        ctx.Log(std::string(kBootImagesNotRestoredText) + " (" + LabelList(leftovers.partitions) +
                ")\n");
        leftovers = SdramLeftovers{};
    }
    if (!record.patternLeftIn.empty()) {
        ctx.Log("Test pattern left in " + LabelList(record.patternLeftIn) +
                ": run RESTORE BOOT IMG to put their images back\n");
    }
}

}  // namespace

void CompleteRun(RunContext& ctx, SerialLink& link, RunState& state) {
    if (ctx.Cancelled()) {
        AbortRun(ctx, link, state);  // a cancelled run never reads as completed
        return;
    }
    SendUnchecked(link, kCmdClose);
    SendUnchecked(link, kCmdReset);
    ctx.record().programmerRunning = false;
    LogWhatIsLeft(ctx, state);
    ctx.Log("Test Completed !!\n");
    link.Close();
    ctx.record().ending = RunEnding::kCompleted;
    state.running = false;
}

void AbortRun(RunContext& ctx, SerialLink& link, RunState& state) {
    if (ctx.Cancelled()) {
        ctx.record().cancelled = true;
        ctx.record().abortReason = "cancelled by the operator";
        ctx.Log("Test cancelled by the operator\n");
    }
    LogWhatIsLeft(ctx, state);
    link.Close();
    ctx.record().ending = RunEnding::kAborted;
    state.running = false;
    state.ddrWaiting = false;
    ctx.Log("TEST aborted!!\n");
}

}  // namespace veltrix
