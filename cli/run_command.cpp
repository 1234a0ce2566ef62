// veltrix-cli run: the command line's checks, then START as the dialog runs it, then the summary
// and the run record from the run's record.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <string_view>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "cli/run_report.h"
#include "diag/model_table.h"
#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "diag/workbench.h"
#include "layout/partition_index.h"

namespace veltrix::cli {

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

namespace {

// The command line's own checks: "" and 0, or the message and the exit status for it.
std::string Refusal(const RunCommand& command, int* status) {
    const RunSelections& s = command.selections;
    *status = kExitUsage;
    if (std::string problem = CheckTestFlags(s, command.given); !problem.empty()) {
        return problem;
    }
    if (std::string problem = CheckListTexts(s, command.comPort); !problem.empty()) {
        return problem;
    }
    *status = kExitNotStarted;
    return CheckRunFiles(s, command.comPort, command.workDir);
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
    CancelOnInterrupt interrupt(bench.link.cancel);
    if (StartRun(bench) == kErrorSuccess) {
        JoinWorker(bench);
    }
}

// Prints the summary and writes the run record, as asked. A record that cannot be written is
// an error of its own: the run's status stays, and the message says where it should have gone.
void Report(const RunCommand& command, RunReport& report, TerminalView& view) {
    if (command.summary) {
        std::fputs(SummaryLine(report).c_str(), command.summaryOut);
        std::fflush(command.summaryOut);
    }
    if (command.record.empty()) {
        return;
    }
    std::string reason;
    if (WriteWholeFile(command.record, RecordDocument(report), &reason) != 0) {
        view.Error("the run record cannot be written to " + command.record.string() + " (" +
                   reason + ") (--record)");
    } else {
        view.Note("run record: " + command.record.string());
    }
}

}  // namespace

int RunTests(const RunCommand& command, TerminalView& view, RunSteps& steps, Clock& clock,
             std::ostream& console) {
    RunReport report;
    report.model = command.selections.model;
    report.port = command.comPort;
    report.selections = command.selections;
    report.started = UtcNow();
    const auto start = std::chrono::steady_clock::now();

    int status = 0;
    report.refusal = Refusal(command, &status);
    if (!report.refusal.empty()) {
        view.Error(report.refusal);
        report.record.ending = RunEnding::kRefused;
        report.exitStatus = status;
        Report(command, report, view);
        return status;
    }

    Workbench bench(view, steps, clock, console);
    bench.state.workDir = command.workDir;
    StartAndWait(command, bench, view);
    report.record = bench.state.record;
    report.log = view.Lines();
    report.elapsedSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count();
    report.exitStatus = ExitStatusFor(bench.state.record);
    Report(command, report, view);
    return report.exitStatus;
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
