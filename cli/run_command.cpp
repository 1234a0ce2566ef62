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
    if (!command.record.empty()) {
        if (std::string problem = CheckOutputPath(command.record); !problem.empty()) {
            return "--record " + problem + ": the run record replaces only a regular file";
        }
    }
    *status = kExitNotStarted;
    return CheckRunFiles(s, command.comPort, command.workDir);
}

// The partition index of the target directory: "" when it lists partitions, or why no run can
// start on it. PMIC ON without a target directory needs none.
std::string LoadIndex(const RunCommand& command, Workbench& bench, TerminalView& view) {
    const RunSelections& s = command.selections;
    if (s.pmicOn && s.targetDir.empty()) {
        return {};
    }
    const std::filesystem::path target = PathFromUtf8(s.targetDir);
    if (LoadPartitionIndex(bench.index, target, view) != kErrorSuccess) {
        return "partition.txt in " + target.string() + " cannot be read (--target)";
    }
    if (bench.index.imagePartitionCount == 0) {
        return "partition.txt in " + target.string() +
               " lists no partitions: extract the total binary image into it again (--target)";
    }
    return {};
}

// START on the workbench: the partition index, the preparation and the worker. The record says
// how it went; a refused run's record says "refused", and the text returned says why.
std::string StartAndWait(const RunCommand& command, Workbench& bench, TerminalView& view) {
    // No run on an empty index.
    if (std::string refusal = LoadIndex(command, bench, view); !refusal.empty()) {
        view.Error(refusal);
        bench.state.record.ending = RunEnding::kRefused;
        return refusal;
    }
    ResetRunDisplay(bench);
    view.ClearLog();
    const int prepared = PrepareRun(bench, command.selections, ParseComPort(command.comPort));
    if (prepared < 0) {
        const std::string message(PrepareRunMessage(prepared));
        if (!message.empty()) {
            view.ShowMessage(message);
        }
        return message;
    }
    CancelOnInterrupt interrupt(bench.link.cancel);
    if (StartRun(bench) == kErrorSuccess) {
        JoinWorker(bench);
    }
    return {};
}

// Writes the run record and prints the summary, as asked. Standard output or a record that
// cannot be written turns a status of 0 into kExitOutputLost, which the record (as far as
// standard output goes) and the summary then carry; the message says where the output should have
// gone.
void Report(const RunCommand& command, RunReport& report, TerminalView& view) {
    const auto lost = [&report] {
        report.exitStatus = report.exitStatus == kExitPassed ? kExitOutputLost : report.exitStatus;
    };
    if (view.CheckOutput()) {
        lost();
    }
    if (!command.record.empty()) {
        std::string reason = CheckOutputPath(command.record);
        if (!reason.empty() ||
            WriteWholeFile(command.record, RecordDocument(report), &reason) != 0) {
            view.Error("the run record cannot be written to " + command.record.string() + " (" +
                       reason + ") (--record)");
            lost();
        } else {
            view.Note("run record: " + command.record.string());
        }
    }
    if (command.summary) {
        std::fputs(SummaryLine(report).c_str(), command.summaryOut);
        if (view.CheckOutput()) {
            lost();
        }
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
        RunCommand reported = command;
        if (!CheckOutputPath(command.record).empty()) {
            reported.record.clear();  // refused for that very reason
        }
        Report(reported, report, view);
        return report.exitStatus;
    }

    Workbench bench(view, steps, clock, console);
    bench.state.workDir = command.workDir;
    report.refusal = StartAndWait(command, bench, view);
    if (bench.state.record.sdramNoVerdict) {
        view.Error(
            "the DDR-level test gave no verdict (no PASS or FAIL from the board): the run "
            "has not passed");
    }
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
