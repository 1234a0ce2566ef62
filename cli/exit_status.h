#pragma once
// The exit statuses of veltrix-cli, in one place, for scripts and production lines: a run's own
// (passed, failed, aborted, not started: diag/run_report.h) and the command line's.

#include "diag/run_report.h"

namespace veltrix::cli {

inline constexpr int kExitExtractFailed = 4;  // the image extraction did not complete
// All went well but its output was lost: standard output or the run record could not be written.
// Only a status of 0 becomes this one; a run that did not pass keeps its own.
inline constexpr int kExitOutputLost = 5;
inline constexpr int kExitUsage = 64;  // bad command line

}  // namespace veltrix::cli
