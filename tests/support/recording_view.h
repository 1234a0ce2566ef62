#pragma once
// A run view for tests: keeps the run log as a list box would (lines at explicit positions),
// the message boxes, the result boxes, the status lines and the progress values. The worker thread
// writes to it while the test thread reads, so every call takes a lock.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "diag/run_view.h"

namespace veltrix::testing {

class RecordingView final : public RunView {
public:
    void InsertLogLine(int position, const std::string& text) override;
    void DeleteLogLine(int position) override;
    void SelectLastLogLine() override;
    void ShowMessage(const std::string& text) override;
    void PushStatus(const std::string& text) override;
    void SetProgress(int percent) override;
    void SetResultBox(ResultBox box, const std::string& text) override;
    void RunEnded() override;

    // The run log as it stands, top to bottom.
    std::vector<std::string> Lines() const;
    // How many lines of the log equal `text`.
    int CountLines(const std::string& text) const;
    int SelectedLine() const;  // -1 before any selection
    std::vector<std::string> Messages() const;
    // The status lines, oldest first, and every progress value set, in order.
    std::vector<std::string> Statuses() const;
    std::vector<int> ProgressValues() const;
    // The box's text; empty before it was ever set.
    std::string Result(ResultBox box) const;
    // Forgets the log (what START does to its list before a run).
    void ClearLog() override;
    // Waits until the run has ended (RunEnded since the last ClearLog); false after `timeout`.
    bool WaitRunEnded(std::chrono::milliseconds timeout);
    // A line of the log that starts with `prefix` has been written, within `timeout`.
    bool WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout);

    // Holds the writing thread inside InsertLogLine, before the line goes in, when a line that
    // starts with `prefix` arrives, until Release().
    void HoldAtLine(const std::string& prefix);
    // Waits until a writer is held; false when `timeout` passed first.
    bool WaitUntilHeld(std::chrono::milliseconds timeout);
    void Release();

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    int selected_ = -1;
    std::vector<std::string> messages_;
    std::vector<std::string> statuses_;
    std::vector<int> progress_;
    std::string results_[3];
    std::string holdPrefix_;
    bool holding_ = false;
    bool ended_ = false;
    bool held_ = false;
};

}  // namespace veltrix::testing
