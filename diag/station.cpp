#include "diag/station.h"

#include <algorithm>

namespace veltrix {
namespace {

// The station's own fields: start, end, selections and exit status.
std::string StationFields(const StationReport& report) {
    return "{\"started\":" + JsonString(report.started) + ",\"ended\":" + JsonString(report.ended) +
           ",\"selections\":" + SelectionsJson(report.selections) +
           ",\"exit\":" + std::to_string(report.exitStatus) + "}";
}

}  // namespace

int StationExitStatus(const std::vector<RunReport>& boards) {
    int status = kExitPassed;
    for (const RunReport& board : boards) {
        status = std::max(status, board.exitStatus);
    }
    return status;
}

std::string StationDocument(const StationReport& report) {
    std::string boards;
    for (const RunReport& board : report.boards) {
        std::string record = RecordDocument(board);
        while (!record.empty() && record.back() == '\n') {
            record.pop_back();
        }
        boards += (boards.empty() ? "\n" : ",\n") + record;
    }
    return "{\n\"station\":" + StationFields(report) + ",\n\"boards\":[" + boards + "\n]\n}\n";
}

std::string StationSummaryLine(const StationReport& report) {
    int pass = 0, fail = 0, aborted = 0, refused = 0;
    for (const RunReport& board : report.boards) {
        pass += board.exitStatus == kExitPassed ? 1 : 0;
        fail += board.exitStatus == kExitTestFailed ? 1 : 0;
        aborted += board.exitStatus == kExitAborted ? 1 : 0;
        refused += board.exitStatus == kExitNotStarted ? 1 : 0;
    }
    return "{\"boards\":" + std::to_string(report.boards.size()) +
           ",\"pass\":" + std::to_string(pass) + ",\"fail\":" + std::to_string(fail) +
           ",\"aborted\":" + std::to_string(aborted) + ",\"refused\":" + std::to_string(refused) +
           ",\"exit\":" + std::to_string(report.exitStatus) + "}\n";
}

Station::Station(const std::vector<Board>& boards, Clock& clock,
                 const std::filesystem::path& workDir, const MakeBoardTests& makeTests)
    : clock_(clock) {
    for (const Board& board : boards) {
        auto engine =
            std::make_unique<RunEngine>(*board.view, *board.console, clock, workDir, makeTests);
        engine->KeepDumpsPerPort(true);
        engines_.push_back(std::move(engine));
        ports_.push_back(board.port);
    }
}

Station::~Station() {
    for (auto& engine : engines_) {
        engine->ShutDown();
    }
}

std::vector<int> Station::Start(const RunSelections& selections) {
    selections_ = selections;
    started_ = UtcText(clock_.NowSeconds());
    std::vector<int> results;
    for (size_t i = 0; i < engines_.size(); ++i) {
        results.push_back(engines_[i]->Start(selections, ports_[i]));
    }
    return results;
}

void Station::Cancel() {
    for (auto& engine : engines_) {
        engine->Cancel();
    }
}

bool Station::InProgress() const {
    return std::any_of(engines_.begin(), engines_.end(),
                       [](const auto& engine) { return engine->InProgress(); });
}

void Station::Join() {
    for (auto& engine : engines_) {
        engine->Join();
    }
}

StationReport Station::Report() const {
    StationReport report;
    report.started = started_;
    report.ended = UtcText(clock_.NowSeconds());
    report.selections = selections_;
    for (const auto& engine : engines_) {
        report.boards.push_back(engine->Report());
    }
    report.exitStatus = StationExitStatus(report.boards);
    return report;
}

}  // namespace veltrix
