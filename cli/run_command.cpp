#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string_view>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "diag/model_table.h"
#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "diag/workbench.h"
#include "layout/partition_index.h"

namespace veltrix::cli {
namespace {

// The exit status of a run, from its record.
int ExitStatusFor(const RunRecord& record) {
    switch (record.ending) {
        case RunEnding::kCompleted:
            return record.Passed() ? kExitPassed : kExitTestFailed;
        case RunEnding::kRefused:
        case RunEnding::kNone:
            return kExitNotStarted;
        default:
            return kExitAborted;
    }
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

void PrintSummary(const RunCommand& command, const RunRecord& record, int status) {
    std::fprintf(command.summaryOut,
                 "{\"model\":%s,\"port\":%s,\"ending\":\"%s\",\"ap\":%s,\"emmc\":%s,"
                 "\"sdram\":%s,\"pmic\":%s,\"exit\":%d}\n",
                 JsonString(command.selections.model).c_str(), JsonString(command.comPort).c_str(),
                 RunEndingText(record.ending), JsonString(record.Box(ResultBox::kAp)).c_str(),
                 JsonString(record.Box(ResultBox::kEmmc)).c_str(),
                 JsonString(record.Box(ResultBox::kSdram)).c_str(), JsonString(record.pmic).c_str(),
                 status);
    std::fflush(command.summaryOut);
}

// START on the workbench: the partition index, the preparation and the worker. The record says
// how it went; a refused run's record says "refused".
void StartAndWait(const RunCommand& command, Workbench& bench, TerminalView& view) {
    // The partition index first; no run on an empty index (the reader has said why).
    LoadPartitionIndex(bench.index, PathFromUtf8(command.selections.targetDir), view);
    if (bench.index.imagePartitionCount == 0) {
        bench.state.record.ending = RunEnding::kRefused;
        return;
    }
    ResetRunDisplay(bench);
    view.ClearLog();
    const int prepared = PrepareRun(bench, command.selections, ParseComPort(command.comPort));
    if (prepared < 0) {
        const std::string_view message = PrepareRunMessage(prepared);
        if (!message.empty()) {
            view.ShowMessage(std::string(message));
        }
        return;
    }
    if (StartRun(bench) == kErrorSuccess) {
        JoinWorker(bench);
    }
}

}  // namespace

int RunTests(const RunCommand& command, TerminalView& view, RunSteps& steps, Clock& clock,
             std::ostream& console) {
    Workbench bench(view, steps, clock, console);
    bench.state.workDir = command.workDir;
    StartAndWait(command, bench, view);
    const int status = ExitStatusFor(bench.state.record);
    if (command.summary) {
        PrintSummary(command, bench.state.record, status);
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
