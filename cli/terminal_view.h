#pragma once
// The run view of the command line: run-log lines on standard output as they are written, status
// lines and the progress bar on standard error (the bar only on a terminal), message boxes
// printed and, when standard input is a terminal, held until Enter.

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "diag/run_view.h"

namespace veltrix::cli {

class TerminalView final : public RunView {
public:
    TerminalView(std::FILE* out, std::FILE* err, bool interactive);

    void InsertLogLine(int position, const std::string& text) override;
    void DeleteLogLine(int position) override;
    void SelectLastLogLine() override {}
    void ShowMessage(const std::string& text) override;
    void PushStatus(const std::string& text) override;
    void SetProgress(int percent) override;
    void SetResultBox(ResultBox box, const std::string& text) override;

    // The run log as it stands.
    std::vector<std::string> Lines() const;
    void ClearLog();

private:
    void EndProgressLine();

    mutable std::mutex mutex_;
    std::FILE* out_;
    std::FILE* err_;
    bool interactive_;
    bool progressShown_ = false;
    std::vector<std::string> lines_;
};

}  // namespace veltrix::cli
