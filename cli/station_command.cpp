// veltrix-cli run --port 3,4,7-10: the same selections on every listed board at once, one engine
// per board, one report for all.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "cli/station_view.h"
#include "diag/station.h"

namespace veltrix::cli {
namespace {

constexpr std::chrono::milliseconds kInterruptPollMs{100};

// "0:12" for a board's time.
std::string Minutes(int64_t seconds) {
    return std::to_string(seconds / 60) + ":" + (seconds % 60 < 10 ? "0" : "") +
           std::to_string(seconds % 60);
}

// The table at the end: port, the run at a glance, its time, its dump files.
void PrintTable(StationOutput& output, const StationReport& report) {
    output.Note("port   verdict                                      time   dumps");
    for (const RunReport& board : report.boards) {
        std::string verdict = VerdictOf(board.record).text;
        verdict.resize(std::max<size_t>(verdict.size(), 44), ' ');
        std::string dumps;
        for (const auto& file : board.record.dumpFiles) {
            dumps += (dumps.empty() ? "" : ", ") + file.string();
        }
        std::string port = "COM" + board.port;
        port.resize(std::max<size_t>(port.size(), 6), ' ');
        output.Note(port + " " + verdict + " " + Minutes(board.elapsedSeconds) + "   " +
                    (dumps.empty() ? "-" : dumps));
    }
}

// What each board must have done about it, prefixed with its port, as a single run says it.
void PrintAdvice(StationOutput& output, const StationReport& report) {
    for (size_t i = 0; i < report.boards.size(); ++i) {
        const RunRecord& record = report.boards[i].record;
        if (record.ending == RunEnding::kAborted && !record.abortReason.empty()) {
            output.ErrLine(i, "aborted: " + record.abortReason);
        }
        for (const std::string& advice : AdviceOf(record)) {
            output.ErrLine(i, advice);
        }
    }
}

// The record and the summary lines, as asked; a station that passed but lost an output exits
// with kExitOutputLost.
int ReportStation(const RunCommand& command, StationReport& report, StationOutput& output) {
    const auto lost = [&report] {
        report.exitStatus = report.exitStatus == kExitPassed ? kExitOutputLost : report.exitStatus;
    };
    if (output.OutFailed()) {
        output.Note("veltrix-cli: standard output cannot be written");
        lost();
    }
    if (!command.record.empty()) {
        std::string reason = CheckOutputPath(command.record);
        if (!reason.empty() ||
            WriteWholeFile(command.record, StationDocument(report), &reason) != 0) {
            output.Note("veltrix-cli: the station record cannot be written to " +
                        command.record.string() + " (" + reason + ") (--record)");
            lost();
        } else {
            output.Note("station record: " + command.record.string());
        }
    }
    if (command.summary) {
        for (const RunReport& board : report.boards) {
            std::fputs(SummaryLine(board).c_str(), command.summaryOut);
        }
        std::fputs(StationSummaryLine(report).c_str(), command.summaryOut);
        if (std::fflush(command.summaryOut) != 0) {
            lost();
        }
    }
    return report.exitStatus;
}

// A command line refused before any board is touched: every port's checks, the first refusal
// for all.
std::string RefuseForAll(const RunCommand& command, const std::vector<int>& ports, int* status) {
    for (const int port : ports) {
        RunCommand one = command;
        one.comPort = std::to_string(port);
        if (std::string refusal = RunRefusal(one, status); !refusal.empty()) {
            return refusal;
        }
    }
    return {};
}

}  // namespace

std::optional<std::vector<int>> ParsePortList(std::string_view text, std::string* problem) {
    std::vector<int> ports;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? "" : text.substr(comma + 1);
        const size_t dash = item.find('-');
        const int first = PortNumberOf(item.substr(0, dash));
        const int last =
            dash == std::string_view::npos ? first : PortNumberOf(item.substr(dash + 1));
        if (first == 0 || last == 0 || last < first) {
            *problem = "--port \"" + std::string(item) +
                       "\" is not a port or a range of ports: give numbers 1 to 99, such as "
                       "3,4,7-10";
            return std::nullopt;
        }
        for (int port = first; port <= last; ++port) {
            if (std::find(ports.begin(), ports.end(), port) != ports.end()) {
                *problem = "--port lists COM " + std::to_string(port) + " twice";
                return std::nullopt;
            }
            ports.push_back(port);
        }
    }
    if (ports.empty()) {
        *problem =
            "--port is required: the number n of \"COM n\", 1 to 99, or a list such as "
            "3,4,7-10";
        return std::nullopt;
    }
    return ports;
}

int RunStation(const RunCommand& command, const std::vector<int>& ports, Clock& clock,
               const MakeBoardTests& makeTests) {
    StationOutput output(stdout, stderr, IsTerminal(stderr), ports);
    int status = 0;
    if (const std::string refusal = RefuseForAll(command, ports, &status); !refusal.empty()) {
        output.Note("veltrix-cli: " + refusal + " (no board was started)");
        StationReport refused;
        refused.selections = command.selections;
        for (const int port : ports) {
            RunReport board;
            board.model = command.selections.model;
            board.port = std::to_string(port);
            board.selections = command.selections;
            board.refusal = refusal;
            board.record.ending = RunEnding::kRefused;
            board.exitStatus = status;
            refused.boards.push_back(board);
        }
        refused.exitStatus = status;
        RunCommand reported = command;
        if (!CheckOutputPath(command.record).empty()) {
            reported.record.clear();  // refused for that very reason
        }
        return ReportStation(reported, refused, output);
    }
    std::vector<std::unique_ptr<BoardView>> views;
    std::vector<std::unique_ptr<BoardConsole>> consoles;
    std::vector<Station::Board> boards;
    for (size_t i = 0; i < ports.size(); ++i) {
        views.push_back(std::make_unique<BoardView>(output, i));
        consoles.push_back(std::make_unique<BoardConsole>(output, i));
        boards.push_back({ports[i], views.back().get(), consoles.back().get()});
    }
    Station station(boards, clock, command.workDir, makeTests);
    {
        std::atomic<bool> interrupted{false};
        CancelOnInterrupt interrupt(interrupted);
        station.Start(command.selections);
        // Every board's waits notice a cancel within 100 ms; so does this one.
        while (station.InProgress()) {
            if (interrupted) {
                station.Cancel();
            }
            std::this_thread::sleep_for(kInterruptPollMs);
        }
        station.Join();
        output.EndLive();
        StationReport report = station.Report();
        PrintAdvice(output, report);
        PrintTable(output, report);
        return ReportStation(command, report, output);
    }
}

}  // namespace veltrix::cli
