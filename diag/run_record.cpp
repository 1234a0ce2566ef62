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

}  // namespace veltrix
