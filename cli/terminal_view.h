#pragma once
// The run view of the command line: run-log lines on standard output as they are written; status
// lines, the progress bar (with the time left, only on a terminal), message boxes and errors on
// standard error. A message box is held until Enter only when standard input is a terminal, and
// never after CloseMessages.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "diag/progress_meter.h"
#include "diag/run_view.h"

namespace veltrix::cli {

class TerminalView final : public RunView {
public:
    // `in` is read for the Enter that closes a message box when `interactive`.
    TerminalView(std::FILE* out, std::FILE* err, bool interactive, std::FILE* in = stdin);

    void InsertLogLine(int position, const std::string& text) override;
    void DeleteLogLine(int position) override;
    void SelectLastLogLine() override {}
    void ShowMessage(const std::string& text) override;
    void PushStatus(const std::string& text) override;
    void SetProgress(int percent) override;
    void SetTransfer(uint64_t done, uint64_t total) override;
    void SetResultBox(ResultBox box, const std::string& text) override;

    // Closes a message box that waits for Enter (from any thread), and keeps later ones from
    // waiting until the next run: a cancelled run must end without the operator's Enter.
    void CloseMessages() { messagesClosed_ = true; }

    // "veltrix-cli: <text>" on standard error: what went wrong, naming the flag or path.
    void Error(const std::string& text);
    // A line for the operator on standard error ("run record: …").
    void Note(const std::string& text);
    // Flushes the run log's stream; when a write to it has failed (a full disk, a reader that went
    // away), says once on standard error that standard output cannot be written, and why.
    // True when the stream has failed.
    bool CheckOutput();

    // The run log as it stands.
    std::vector<std::string> Lines() const;
    void ClearLog() override;
    void RunEnded() override;
    // Waits up to `timeout` for the run's end; true once it has ended (until the next run).
    bool WaitRunEnded(std::chrono::milliseconds timeout);

private:
    void EndProgressLine();

    mutable std::mutex mutex_;
    std::condition_variable ended_;
    bool runEnded_ = false;
    std::FILE* out_;
    std::FILE* err_;
    std::FILE* in_;
    bool interactive_;
    std::atomic<bool> messagesClosed_{false};
    bool progressShown_ = false;
    int outError_ = 0;  // errno of the first failed write to `out_`
    bool outErrorSaid_ = false;
    // When the progress bar last left 0, for the time left.
    std::chrono::steady_clock::time_point progressStart_;
    int lastPercent_ = 0;
    // The rate and time left of the bytes under way (empty before they say something).
    ProgressMeter meter_;
    std::string rateText_;
    std::vector<std::string> lines_;
};

}  // namespace veltrix::cli
