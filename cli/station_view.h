#pragma once
// What a station run shows on the terminal: every board's run-log lines whole on standard
// output, each prefixed with its port ("COM3: "); on a terminal, one live line per board on
// standard error (port, step, percent, MB/s, time left) kept below the output; message boxes as
// prefixed lines on standard error that never wait for the operator; the link's diagnostics per
// board, prefixed the same way. All boards write through one StationOutput, so lines never mix.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "diag/progress_meter.h"
#include "diag/run_view.h"

namespace veltrix::cli {

class StationOutput {
public:
    // `live`: standard error is a terminal, so the boards' live lines are shown on it.
    StationOutput(std::FILE* out, std::FILE* err, bool live, const std::vector<int>& ports);

    // One whole line of a board on standard output (a line feed added when it has none).
    void OutLine(size_t board, const std::string& text);
    // One whole line of a board on standard error.
    void ErrLine(size_t board, const std::string& text);
    // A line of the station's own on standard error ("veltrix-cli: ...").
    void Note(const std::string& text);
    // The board's live line: what it does and how far it is.
    void Live(size_t board, const std::string& step, int percent, const std::string& rate);
    // Takes the live lines away for good (the run is over).
    void EndLive();
    // True once a write to standard output has failed (a full disk, a reader gone).
    bool OutFailed() const;

private:
    void EraseLive();
    void DrawLive();

    mutable std::mutex mutex_;
    std::FILE* out_;
    std::FILE* err_;
    bool live_;
    std::vector<std::string> prefixes_;  // "COM3: "
    std::vector<std::string> liveLines_;
    size_t liveShown_ = 0;
    bool outFailed_ = false;
};

// The run view of one board of a station.
class BoardView final : public RunView {
public:
    BoardView(StationOutput& output, size_t board) : output_(output), board_(board) {}

    void InsertLogLine(int position, const std::string& text) override;
    void DeleteLogLine(int) override {}
    void SelectLastLogLine() override {}
    void ShowMessage(const std::string& text) override;
    void PushStatus(const std::string& text) override;
    void SetProgress(int percent) override;
    void SetTransfer(uint64_t done, uint64_t total) override;
    void SetResultBox(ResultBox, const std::string&) override {}
    void ClearLog() override {}
    void RunEnded() override;

    // The run has ended since it started (RunEnded came).
    bool Ended() const;

private:
    void ShowLive();

    StationOutput& output_;
    size_t board_;
    mutable std::mutex mutex_;
    bool ended_ = false;
    std::string step_;
    int percent_ = 0;
    std::string rate_;
    ProgressMeter meter_;
};

// The console sink of one board's link: whole lines to standard output with the board's prefix;
// a text ended by a carriage return (a running count) is dropped, as it would be overwritten.
class BoardConsole final : public std::ostream {
public:
    BoardConsole(StationOutput& output, size_t board);

private:
    class Buffer final : public std::streambuf {
    public:
        Buffer(StationOutput& output, size_t board) : output_(output), board_(board) {}

    protected:
        int_type overflow(int_type c) override;

    private:
        StationOutput& output_;
        size_t board_;
        std::string line_;
    };
    Buffer buffer_;
};

}  // namespace veltrix::cli
