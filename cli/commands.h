#pragma once
// What veltrix-cli does, one function per command; each returns the exit status (exit_status.h).

#include <cstdio>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/selections.h"
#include "cli/terminal_view.h"
#include "diag/board_tests.h"
#include "diag/prepare_run.h"
#include "link/clock.h"

namespace veltrix::cli {

struct RunCommand {
    RunSelections selections;
    GivenFlags given;                // which options the operator typed
    std::string comPort;             // as typed
    std::filesystem::path workDir;   // holds the "model" folder
    bool summary = false;            // print a one-line JSON summary at the end
    std::FILE* summaryOut = stdout;  // where the summary goes
    std::filesystem::path record;    // where the run record goes; empty: none
};

// A test run as START runs it, after the command line's own checks (selections as the dialog
// allows them, the files the run needs): the partition index from the target directory,
// preparation, the worker, and the wait for its end, on the clock the run waits on, with the sink
// of the link's diagnostics and the tests on the board `makeTests` makes. Ctrl-C, SIGTERM, SIGHUP
// and SIGPIPE cancel the run. The exit status comes from the run's record (kExitOutputLost for a
// passed run whose output was lost); the run record and the summary are written for every outcome.
int RunTests(const RunCommand& command, TerminalView& view, Clock& clock, std::ostream& console,
             const MakeBoardTests& makeTests = MakeDeviceTests);

// The command line's own checks of a run, before any board is touched (the selections as the
// dialog allows them, the list texts, the record's path, the files the run needs): "" and 0, or
// the message and the exit status for it (kExitUsage or kExitNotStarted).
std::string RunRefusal(const RunCommand& command, int* status);

// "3,4,7-10": the ports of a station, in the order given (each 1 to 99, none twice); nothing,
// with the reason in `*problem`, for any other text.
std::optional<std::vector<int>> ParsePortList(std::string_view text, std::string* problem);

// The run on every board of `ports` at once, one engine each (see diag/station.h): each board's
// run-log lines on standard output prefixed with its port, live lines on a terminal, message
// boxes as lines, and at the end a table; --record writes one station record, --summary each
// board's summary line and a station line. Exit status 0 when every board passed, else the
// highest of the boards'; a command line refused before any board is touched keeps 64 or 3.
// Ctrl-C, SIGTERM, SIGHUP and SIGPIPE cancel every board.
int RunStation(const RunCommand& command, const std::vector<int>& ports, Clock& clock,
               const MakeBoardTests& makeTests = MakeDeviceTests);

// Splits a total binary image into DIR; a failure says why on standard error. Ctrl-C, SIGTERM,
// SIGHUP and SIGPIPE cancel it between copy pieces (kExitAborted): the unfinished file is
// removed and partition.txt is not written.
int ExtractImage(const std::filesystem::path& bin, const std::filesystem::path& dir,
                 TerminalView& view);

// Lists the model texts, one per line, in the order the dialog shows them (sorted).
int ListModels();

// Lists the COM ports the ports folder and the serial devices provide.
int ListPorts(std::FILE* out);

// Opens COM n and asks the board who it is, changing nothing on it; says what was found and what
// to do. kExitPassed when a boot ROM in download mode answers, else kExitNotStarted.
int Doctor(const std::string& portText, std::FILE* out);

}  // namespace veltrix::cli
