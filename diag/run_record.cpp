#include "diag/run_record.h"

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

}  // namespace veltrix
