#include "diag/run_log.h"

#include <string>

#include "diag/workbench.h"

namespace veltrix {

void AppendLog(Workbench& bench, std::string_view line) {
    const int position = bench.state.logLineCount++;
    bench.view.InsertLogLine(position, std::string(line));
    bench.view.SelectLastLogLine();
}

void ReplaceLiveLogLine(Workbench& bench, std::string_view line) {
    const int position = bench.state.logLineCount;
    bench.view.DeleteLogLine(position);
    bench.view.InsertLogLine(position, std::string(line));
    bench.view.SelectLastLogLine();
}

void KeepLiveLogLine(Workbench& bench) {
    ++bench.state.logLineCount;
}

void SetResult(Workbench& bench, ResultBox box, std::string_view text) {
    bench.state.record.boxes[static_cast<size_t>(box)] = text;
    bench.view.SetResultBox(box, std::string(text));
}

bool RunRecord::Passed() const {
    if (ending != RunEnding::kCompleted || pmicFailed || sdramNoVerdict) {
        return false;
    }
    for (const std::string& box : boxes) {
        if (box == kResultFail) {
            return false;
        }
    }
    return true;
}

const char* RunEndingText(RunEnding ending) {
    switch (ending) {
        case RunEnding::kCompleted:
            return "completed";
        case RunEnding::kAborted:
            return "aborted";
        case RunEnding::kRefused:
            return "refused";
        default:
            return "none";
    }
}

void ResetRunDisplay(Workbench& bench) {
    SetResult(bench, ResultBox::kAp, kResultNotTested);
    SetResult(bench, ResultBox::kEmmc, kResultNotTested);
    SetResult(bench, ResultBox::kSdram, kResultNotTested);
    bench.state.logLineCount = 0;
}

}  // namespace veltrix
