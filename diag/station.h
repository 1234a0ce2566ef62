#pragma once
// A station: the same selections run on several boards at once, one run engine per board (its
// own link, worker thread, run view, console sink and dump folder, "dump/COM<n>"), gathered into
// one report. Nothing is shared between the boards but the selections and the clock: a board
// that fails, is absent or hangs never holds up the others.
//
// Threads: every call comes from the front end's thread; each board's run talks to its own view
// as a single run does.

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "diag/board_tests.h"
#include "diag/run_engine.h"
#include "diag/run_report.h"

namespace veltrix {

// What one station run did on every board.
struct StationReport {
    std::string started;  // UTC, as a run's
    std::string ended;
    RunSelections selections;
    std::vector<RunReport> boards;  // in the order of the ports
    int exitStatus = 0;
};

// 0 when every board passed; otherwise the highest of the boards' statuses.
int StationExitStatus(const std::vector<RunReport>& boards);

// The station record: one JSON document with the station (start, end, selections, exit status)
// and `boards`, each exactly a single run's record.
std::string StationDocument(const StationReport& report);

// {"boards":N,"pass":…,"fail":…,"aborted":…,"refused":…,"exit":…} and a line feed.
std::string StationSummaryLine(const StationReport& report);

class Station {
public:
    // One board: its port and where its run shows itself.
    struct Board {
        int port = 0;
        RunView* view = nullptr;
        std::ostream* console = nullptr;
    };

    Station(const std::vector<Board>& boards, Clock& clock, const std::filesystem::path& workDir,
            const MakeBoardTests& makeTests = MakeDeviceTests);
    // Shuts every board down.
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // START on every board with the same selections (no questions are asked: the command line
    // spells its options out). The start result of each board, in order.
    std::vector<int> Start(const RunSelections& selections);
    // Cancels every board's run; each ends as aborted within about a second.
    void Cancel();
    // Some board's run is still in progress.
    bool InProgress() const;
    // Waits for the workers of runs that have ended.
    void Join();
    // The report once no run is in progress: every board's own report, in port order.
    StationReport Report() const;

private:
    Clock& clock_;
    std::vector<std::unique_ptr<RunEngine>> engines_;
    std::vector<int> ports_;
    RunSelections selections_;
    std::string started_;
};

}  // namespace veltrix
