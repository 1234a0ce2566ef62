#include "diag/run_record.h"

#include <algorithm>

#include "layout/fixed_text.h"

namespace veltrix {

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

void RunRecord::NoteToRestore(const std::string& label) {
    const bool listed =
        std::any_of(partitionsToRestore.begin(), partitionsToRestore.end(),
                    [&label](const std::string& l) { return EqualsIgnoreAsciiCase(l, label); });
    if (!listed) {
        partitionsToRestore.push_back(label);
    }
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

RunVerdict VerdictOf(const RunRecord& record) {
    static constexpr const char* kBoxNames[] = {"AP", "EMMC", "SDRAM"};
    std::string failed;
    const auto add = [&failed](const std::string& what) {
        failed += (failed.empty() ? "" : ", ") + what;
    };
    for (size_t i = 0; i < record.boxes.size(); ++i) {
        if (record.boxes[i] == kResultFail) {
            add(kBoxNames[i]);
        }
    }
    if (record.ending == RunEnding::kCompleted) {
        if (record.pmicFailed) {
            add("PMIC");
        }
        if (record.sdramNoVerdict) {
            add("no SDRAM verdict");
        }
    }
    switch (record.ending) {
        case RunEnding::kCompleted:
            return failed.empty() ? RunVerdict{RunVerdict::Kind::kPass, "PASS"}
                                  : RunVerdict{RunVerdict::Kind::kFail, "FAIL: " + failed};
        case RunEnding::kAborted:
            // A test that failed and ended the run is a FAIL; anything else is an abort.
            if (!failed.empty() && !record.cancelled) {
                return {RunVerdict::Kind::kFail, "FAIL: " + failed};
            }
            return {RunVerdict::Kind::kAborted,
                    "ABORTED: " + (record.abortReason.empty() ? std::string("see the run log")
                                                              : record.abortReason)};
        case RunEnding::kRefused:
            return {RunVerdict::Kind::kNone, "NOT STARTED"};
        default:
            return {};
    }
}

std::string LabelList(const std::vector<std::string>& labels) {
    std::string text;
    for (const std::string& label : labels) {
        text += (text.empty() ? "" : ", ") + label;
    }
    return text;
}

std::vector<std::string> AdviceOf(const RunRecord& record) {
    std::vector<std::string> advice;
    if (!record.advice.empty()) {
        advice.push_back(record.advice);
    }
    if (!record.partitionsToRestore.empty()) {
        advice.push_back("restore " + LabelList(record.partitionsToRestore) +
                         " (RESTORE BOOT IMG) before the board leaves the bench");
    }
    if (!record.patternLeftIn.empty()) {
        advice.push_back("the test pattern is in " + LabelList(record.patternLeftIn) +
                         ": run RESTORE BOOT IMG to put their images back");
    }
    if (record.programmerRunning) {
        advice.push_back("power the board off and on in download mode before the next run");
    }
    return advice;
}

}  // namespace veltrix
