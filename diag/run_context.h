#pragma once
// What every test on the board shares while a run goes: the run log, the result boxes, the status
// line and progress bar, the message boxes, the run's record, its waits and its cancel flag. The
// engine owns one; the tests take it, not the engine.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result_codes.h"
#include "diag/run_record.h"
#include "diag/run_view.h"
#include "link/clock.h"

namespace veltrix {

// Lines shared by the sequencer and the tests.
inline constexpr std::string_view kEmptyLine = "\n";
inline constexpr std::string_view kSectionEndLine = "======== END\n";

class RunContext {
public:
    RunContext(RunView& view, Clock& clock) : view_(view), clock_(clock) {}
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    // Inserts the line at the next log position, advances the position and keeps the newest
    // line in view.
    void Log(std::string_view line);
    // Writes `line` as the live line at the next position, replacing what that position holds,
    // without advancing (the AP check's waiting line during a DDR wait).
    void ReplaceLiveLine(std::string_view line);
    // Keeps the live line in the log: the next line goes below it.
    void KeepLiveLine() { ++logLineCount_; }

    // Sets the box's text to "PASS", "FAIL" or "N/T", in the view and in the record; "FAIL" is
    // not set once a fault off the board has been noted.
    void SetResult(ResultBox box, std::string_view text);
    // A line at the top of the status list; the progress bar (0..100).
    void Status(const std::string& text) { view_.PushStatus(text); }
    void Progress(int percent) { view_.SetProgress(percent); }
    void Transfer(uint64_t done, uint64_t total) { view_.SetTransfer(done, total); }
    void WaitShown(int secondsLeft, int seconds) { view_.ShowWait(secondsLeft, seconds); }
    // A message box of the run, unless the run has been cancelled; its text is kept in the
    // record.
    void ShowMessage(std::string_view text);

    // Waits `ms` on the run's clock; false once the run is cancelled (noticed within 100 ms).
    bool Wait(uint32_t ms) { return clock_.SleepUnlessCancelled(ms, cancel_); }
    bool Cancelled() const { return cancel_; }
    // `failure`, or kErrorOperationAborted when the run was cancelled meanwhile (a request that
    // failed because of the cancel says nothing about the board).
    int FailureOrCancel(int failure) const;
    // Asks the run to stop, from any thread.
    void Cancel() { cancel_ = true; }
    // The flag every wait of the run reads (the link watches it too).
    const std::atomic<bool>& cancelFlag() const { return cancel_; }

    // Notes why the run is about to fail, for its record (the first note stands).
    void NoteFailure(const std::string& reason, const std::string& advice = "") {
        if (record_.abortReason.empty()) {
            record_.abortReason = reason;
            record_.advice = advice;
        }
    }
    // Notes a failure that says nothing about the board's parts: a fault of the PC (a full disk,
    // a read-only folder, no file descriptors, no memory) or a port that went away. The run is
    // about to end as aborted for this reason, which stands over an earlier note; from now on no
    // result box is set to "FAIL", so what was not judged keeps its "N/T".
    void NoteFaultOffBoard(const std::string& reason, const std::string& advice) {
        record_.abortReason = reason;
        record_.advice = advice;
        faultOffBoard_ = true;
    }

    // START's reset of the run's outputs: the three boxes "N/T", the log position 0, a fresh
    // record, the cancel flag cleared.
    void BeginRun();

    // A fresh record of a run that did not start, and why.
    void RefuseRun(const std::string& why) {
        record_ = RunRecord{};
        record_.ending = RunEnding::kRefused;
        record_.refusal = why;
    }

    RunRecord& record() { return record_; }
    const RunRecord& record() const { return record_; }
    // The run log as the view shows it (the live line in its place).
    const std::vector<std::string>& Lines() const { return lines_; }
    Clock& clock() { return clock_; }
    RunView& view() { return view_; }

private:
    RunView& view_;
    Clock& clock_;
    std::atomic<bool> cancel_{false};
    bool faultOffBoard_ = false;
    int logLineCount_ = 0;
    RunRecord record_;
    std::vector<std::string> lines_;
};

// Whether `code` tells of a fault of the PC (no file descriptors or no memory left), which says
// nothing about a file or the board.
inline bool IsPcFault(int code) {
    return code == kErrorTooManyOpenFiles || code == kErrorNotEnoughMemory;
}

}  // namespace veltrix
