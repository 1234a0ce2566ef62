#pragma once
// How a run ended and what its result boxes say, as data: the front ends read this record (for
// an exit status, a summary, a stored run record), never their own log text.

#include <array>
#include <filesystem>
#include <string>
#include <vector>

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
    // The PMIC step ran and failed (its lines stay in the log; no box shows it).
    bool pmicFailed = false;
    // The DDR-level test ran to its end without a verdict from the board (its SDRAM box stays
    // "N/T"): the run completes, but it has not passed.
    bool sdramNoVerdict = false;
    // The run ended with the SDRAM test's boot images on the board: RESTORE BOOT IMG must be run
    // before the board leaves the bench.
    bool bootImagesNotRestored = false;
    // Partitions that no longer hold their own image: the SDRAM test's that were not put back,
    // and those whose write was cut short. RESTORE BOOT IMG puts them back.
    std::vector<std::string> partitionsToRestore;
    // Partitions whose first sector (or two) the eMMC write test left holding its pattern.
    std::vector<std::string> patternLeftIn;
    // A program this run uploaded (the flash programmer, the DDR-debug image) still runs on the
    // board: the boot ROM answers again only after the board is powered off and on.
    bool programmerRunning = false;
    // Why the run was aborted, in a few words ("board not in download mode", "cancelled by the
    // operator"), and what the operator can do about it, when the engine knows; empty otherwise.
    std::string abortReason;
    std::string advice;
    // Why START did not start the run (its message), for a refused run.
    std::string refusal;
    // The run's message boxes, in the order shown.
    std::vector<std::string> messages;
    // Every dump file the run completed, in the order written.
    std::vector<std::filesystem::path> dumpFiles;

    const std::string& Box(ResultBox box) const { return boxes[static_cast<size_t>(box)]; }
    // Adds `label` to partitionsToRestore unless it is listed (ignoring ASCII case).
    void NoteToRestore(const std::string& label);
    // A completed run none of whose boxes says "FAIL", whose PMIC step did not fail and whose
    // DDR-level test gave a verdict.
    bool Passed() const;
};

// "completed", "aborted", "refused" or "none", for summaries and run records.
const char* RunEndingText(RunEnding ending);

// The run's outcome at a glance: PASS; FAIL with what failed ("EMMC", "PMIC", "no SDRAM
// verdict"); ABORTED with its reason; NOT STARTED for a refused run.
struct RunVerdict {
    enum class Kind { kNone, kPass, kFail, kAborted };
    Kind kind = Kind::kNone;
    std::string text;  // "PASS", "FAIL: EMMC", "ABORTED: board not in download mode"
};
RunVerdict VerdictOf(const RunRecord& record);

// What the operator must do once the run has ended, one sentence each, most urgent first: the
// failure's advice; the partitions to restore; the partitions holding the test pattern; a board
// whose uploaded program still runs. Empty when nothing is to be done.
std::vector<std::string> AdviceOf(const RunRecord& record);

// The labels as one text: "sbl1, sbl2".
std::string LabelList(const std::vector<std::string>& labels);

}  // namespace veltrix
