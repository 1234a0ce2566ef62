#pragma once
// The exit statuses of veltrix-cli, in one place, for scripts and production lines.

#include "diag/run_record.h"

namespace veltrix::cli {

inline constexpr int kExitPassed = 0;  // the run completed and no result box says FAIL
// Completed, but a box says FAIL, the PMIC step failed or the DDR-level test gave no verdict.
inline constexpr int kExitTestFailed = 1;
// The run ended with "TEST aborted!!", or a signal (Ctrl-C, SIGTERM, SIGHUP, SIGPIPE) cancelled
// the run or the extraction.
inline constexpr int kExitAborted = 2;
inline constexpr int kExitNotStarted = 3;     // preparation refused the selections, or no index
inline constexpr int kExitExtractFailed = 4;  // the image extraction did not complete
// All went well but its output was lost: standard output or the run record could not be written.
// Only a status of 0 becomes this one; a run that did not pass keeps its own.
inline constexpr int kExitOutputLost = 5;
inline constexpr int kExitUsage = 64;  // bad command line

// The exit status of a run, from its record: passed, failed test, aborted, or not started.
int ExitStatusFor(const RunRecord& record);

}  // namespace veltrix::cli
