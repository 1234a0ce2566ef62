#pragma once
// The two endings of a run. Both close the COM port and clear `running`; only the sequencer (and
// the worker, for a last pass that ended with none) decides which one a run takes.

#include <string_view>

namespace veltrix {

class RunContext;
struct RunState;
class SerialLink;

// Logged when a run ends while the SDRAM test's boot images are still on the board, followed by
// the partitions in parentheses: "... bench (sbl2, PrimaryGPT)\n".
inline constexpr std::string_view kBootImagesNotRestoredText =
    "Boot images are NOT restored: run RESTORE BOOT IMG before the board leaves the bench";

// Both endings first say what the run leaves on the board: the test pattern's partitions
// ("Test pattern left in sbl1, sbl2: run RESTORE BOOT IMG to put their images back\n"), and in an
// aborted run the SDRAM test's partitions that are not back (kBootImagesNotRestoredText), both
// kept in the record.

// Sends CLOSE (0x15) and RESET (0x0B) to the board without looking at the answers, logs
// "Test Completed !!\n", closes the port and clears `running`. `ddrWaiting` keeps its value. A
// cancelled run ends as aborted instead.
void CompleteRun(RunContext& ctx, SerialLink& link, RunState& state);

// Closes the port, clears `running` and `ddrWaiting`, logs "TEST aborted!!\n" (after "Test
// cancelled by the operator\n" when the run was cancelled). Nothing is sent to the board: a
// program this run uploaded stays running there (the record says so).
void AbortRun(RunContext& ctx, SerialLink& link, RunState& state);

}  // namespace veltrix
