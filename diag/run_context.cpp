#include "diag/run_context.h"

#include <algorithm>
#include <cstddef>

#include "base/result_codes.h"

namespace veltrix {

void RunContext::Log(std::string_view line) {
    const int position = logLineCount_++;
    lines_.insert(lines_.begin() + std::min<ptrdiff_t>(position, std::ssize(lines_)),
                  std::string(line));
    view_.InsertLogLine(position, std::string(line));
    view_.SelectLastLogLine();
}

void RunContext::ReplaceLiveLine(std::string_view line) {
    if (logLineCount_ < std::ssize(lines_)) {
        lines_.erase(lines_.begin() + logLineCount_);
    }
    lines_.insert(lines_.begin() + std::min<ptrdiff_t>(logLineCount_, std::ssize(lines_)),
                  std::string(line));
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
        record_.messages.emplace_back(text);
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
    lines_.clear();
}

}  // namespace veltrix
