#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string_view>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "diag/device_steps.h"
#include "diag/model_table.h"
#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "diag/workbench.h"
#include "layout/partition_index.h"

namespace veltrix::cli {
namespace {

constexpr std::string_view kCompletedLine = "Test Completed !!\n";
constexpr std::string_view kAbortedLine = "TEST aborted!!\n";

enum class Ending { kNone, kCompleted, kAborted };

// The ending the run log shows: the last ending line written.
Ending FindEnding(const std::vector<std::string>& lines) {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (*it == kCompletedLine) return Ending::kCompleted;
        if (*it == kAbortedLine) return Ending::kAborted;
    }
    return Ending::kNone;
}

int ExitStatusFor(Ending ending, const TerminalView& view) {
    if (ending != Ending::kCompleted) {
        return kExitAborted;
    }
    for (ResultBox box : {ResultBox::kAp, ResultBox::kEmmc, ResultBox::kSdram}) {
        if (view.Result(box) == kResultFail) return kExitTestFailed;
    }
    return kExitPassed;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void PrintSummary(const RunCommand& command, Ending ending, int status,
                  const TerminalView& view) {
    const char* endingText = ending == Ending::kCompleted ? "completed"
                             : ending == Ending::kAborted ? "aborted"
                                                          : "none";
    std::fprintf(command.summaryOut, "{\"model\":%s,\"port\":%s,\"ending\":\"%s\",\"ap\":%s,\"emmc\":%s,"
                "\"sdram\":%s,\"exit\":%d}\n",
                JsonString(command.selections.model).c_str(),
                JsonString(command.comPort).c_str(), endingText,
                JsonString(view.Result(ResultBox::kAp)).c_str(),
                JsonString(view.Result(ResultBox::kEmmc)).c_str(),
                JsonString(view.Result(ResultBox::kSdram)).c_str(), status);
    std::fflush(command.summaryOut);
}

}  // namespace

int RunTests(const RunCommand& command, TerminalView& view) {
    DeviceSteps steps;
    Workbench bench(view, steps, SystemClock::Instance(), std::cout);
    bench.state.workDir = command.workDir;

    // START: the partition index first; no run on an empty index (the reader has said why).
    LoadPartitionIndex(bench.index, PathFromUtf8(command.selections.targetDir), view);
    if (bench.index.imagePartitionCount == 0) {
        return kExitNotStarted;
    }
    ResetRunDisplay(bench);
    view.ClearLog();
    const int prepared = PrepareRun(bench, command.selections, ParseComPort(command.comPort));
    if (prepared < 0) {
        const std::string_view message = PrepareRunMessage(prepared);
        if (!message.empty()) {
            view.ShowMessage(std::string(message));
        }
        return kExitNotStarted;
    }
    if (StartRun(bench) != 0) {
        return kExitNotStarted;
    }
    JoinWorker(bench);

    const Ending ending = FindEnding(view.Lines());
    const int status = ExitStatusFor(ending, view);
    if (command.summary) {
        PrintSummary(command, ending, status, view);
    }
    return status;
}

int ListModels() {
    std::vector<std::string_view> names;
    for (const ModelRow& row : ModelTable()) {
        names.push_back(row.displayText);
    }
    std::sort(names.begin(), names.end());
    for (std::string_view name : names) {
        std::printf("%.*s\n", static_cast<int>(name.size()), name.data());
    }
    return kExitPassed;
}

}  // namespace veltrix::cli
