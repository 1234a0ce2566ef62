#include "diag/run_context.h"

#include "base/result_codes.h"

namespace veltrix {

void RunContext::Log(std::string_view line) {
    const int position = logLineCount_++;
    view_.InsertLogLine(position, std::string(line));
    view_.SelectLastLogLine();
}

void RunContext::ReplaceLiveLine(std::string_view line) {
    view_.DeleteLogLine(logLineCount_);
    view_.InsertLogLine(logLineCount_, std::string(line));
    view_.SelectLastLogLine();
}

void RunContext::SetResult(ResultBox box, std::string_view text) {
    if (faultOffBoard_ && text == kResultFail) {
        return;  // the board was not judged
    }
    record_.boxes[static_cast<size_t>(box)] = text;
    view_.SetResultBox(box, std::string(text));
}

void RunContext::ShowMessage(std::string_view text) {
    if (!Cancelled()) {
        view_.ShowMessage(std::string(text));
    }
}

int RunContext::FailureOrCancel(int failure) const {
    return Cancelled() ? kErrorOperationAborted : failure;
}

void RunContext::BeginRun() {
    cancel_ = false;
    faultOffBoard_ = false;
    record_ = RunRecord{};
    for (ResultBox box : {ResultBox::kAp, ResultBox::kEmmc, ResultBox::kSdram}) {
        SetResult(box, kResultNotTested);
    }
    logLineCount_ = 0;
}

}  // namespace veltrix
