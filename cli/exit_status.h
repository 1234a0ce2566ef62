#pragma once
// The exit statuses of veltrix-cli, in one place, for scripts and production lines.

namespace veltrix::cli {

inline constexpr int kExitPassed = 0;         // the run completed and no result box says FAIL
inline constexpr int kExitTestFailed = 1;     // completed, but a box says FAIL or PMIC failed
inline constexpr int kExitAborted = 2;        // the run ended with "TEST aborted!!"
inline constexpr int kExitNotStarted = 3;     // preparation refused the selections, or no index
inline constexpr int kExitExtractFailed = 4;  // the image extraction did not complete
inline constexpr int kExitUsage = 64;         // bad command line

}  // namespace veltrix::cli
