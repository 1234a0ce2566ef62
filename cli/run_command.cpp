// veltrix-cli run: the command line's checks, then START as the dialog runs it, then the summary
// and the run record from the run's record.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <string_view>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "diag/model_table.h"
#include "diag/run_engine.h"
#include "diag/run_report.h"
#include "layout/partition_index.h"
#include "layout/partition_txt.h"

namespace veltrix::cli {

// How soon Ctrl-C reaches a run.
constexpr std::chrono::milliseconds kInterruptPollMs{100};

namespace {

// START on the engine, then the wait for the run's end; `interrupted` (Ctrl-C and its kin)
// cancels the run. The record says how it went; a refused run's record says "refused", and the
// text returned says why.
std::string StartAndWait(const RunCommand& command, RunEngine& engine, TerminalView& view,
                         const std::atomic<bool>& interrupted) {
    const int started = engine.Start(command.selections, ParseComPort(command.comPort));
    if (started != kErrorSuccess) {
        // The message box said why in both languages; the error line says it in English.
        const std::string refusal = started == kPrepareNoPartitionIndex
                                        ? engine.Report().refusal + " (--target)"
                                        : engine.Report().refusal;
        view.Error(refusal);
        return refusal;
    }
    // The run's own waits notice a cancel within 100 ms; so does this one.
    while (!view.WaitRunEnded(kInterruptPollMs)) {
        if (interrupted) {
            engine.Cancel();
            view.CloseMessages();  // a message box waiting for Enter must not hold the run
        }
    }
    engine.Join();
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

std::string RunRefusal(const RunCommand& command, int* status) {
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

int RunTests(const RunCommand& command, TerminalView& view, Clock& clock, std::ostream& console,
             const MakeBoardTests& makeTests) {
    // The signals that cancel a run stay caught until the record and the summary are out: one
    // that comes while they are written must not end the program with them half written.
    std::atomic<bool> interrupted{false};
    const CancelOnInterrupt interrupt(interrupted);
    int status = 0;
    const std::string refusal = RunRefusal(command, &status);
    if (!refusal.empty()) {
        view.Error(refusal);
        RunReport report;
        report.model = command.selections.model;
        report.port = command.comPort;
        report.selections = command.selections;
        report.started = UtcText(clock.NowSeconds());
        report.refusal = refusal;
        report.record.ending = RunEnding::kRefused;
        report.exitStatus = status;
        RunCommand reported = command;
        if (!CheckOutputPath(command.record).empty()) {
            reported.record.clear();  // refused for that very reason
        }
        Report(reported, report, view);
        return report.exitStatus;
    }

    const RunSelections& s = command.selections;
    if (s.emmcTest && !s.dump && (s.option == "Read/Write" || s.option == "Write only")) {
        view.Note("\"" + s.option +
                  "\" leaves the test pattern in the first sectors of the partitions it tests; "
                  "--restore puts their images back");
    }
    RunEngine engine(view, console, clock, command.workDir, makeTests);
    const std::string startRefusal = StartAndWait(command, engine, view, interrupted);
    RunReport report = engine.Report();
    report.port = command.comPort;  // as typed
    report.refusal = startRefusal.empty() ? report.refusal : startRefusal;
    const RunRecord& record = report.record;
    if (record.sdramNoVerdict) {
        view.Error(
            "the SDRAM test gave no verdict (no PASS or FAIL from the board): the run has not "
            "passed");
    }
    if (record.ending == RunEnding::kAborted && !record.abortReason.empty()) {
        view.Error(record.advice.empty() ? "aborted: " + record.abortReason
                                         : record.abortReason + ": " + record.advice);
    }
    // What else the operator must do now, whatever the ending.
    for (const std::string& advice : AdviceOf(record)) {
        if (advice != record.advice) {
            view.Error(advice);
        }
    }
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
