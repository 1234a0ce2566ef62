#pragma once
// How a run ended and what its result boxes say, as data: the front ends read this record (for
// an exit status, a summary, a stored run record), never their own log text.

#include <array>
#include <string>

#include "diag/run_view.h"

namespace veltrix {

enum class RunEnding {
    kNone,       // no run has been prepared, or the run is still going
    kCompleted,  // "Test Completed !!"
    kAborted,    // "TEST aborted!!"
    kRefused,    // START refused the selections, or the worker could not be started
};

struct RunRecord {
    RunEnding ending = RunEnding::kNone;
    // The operator (or Ctrl-C) cancelled the run; it ends as aborted.
    bool cancelled = false;
    // The texts of the AP, EMMC and SDRAM boxes, indexed by ResultBox.
    std::array<std::string, 3> boxes{kResultNotTested, kResultNotTested, kResultNotTested};
    // PMIC control has no box of its own: "PASS" when its exchanges all succeeded, "FAIL" when
    // one failed (the run still completes, as the log shows), "N/T" when it did not run.
    std::string pmic = kResultNotTested;

    const std::string& Box(ResultBox box) const { return boxes[static_cast<size_t>(box)]; }
    bool PmicFailed() const { return pmic == kResultFail; }
    // A completed run none of whose boxes says "FAIL" and whose PMIC control did not fail.
    bool Passed() const;
};

// "completed", "aborted", "refused" or "none", for summaries and run records.
const char* RunEndingText(RunEnding ending);

}  // namespace veltrix
