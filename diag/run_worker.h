#pragma once
// The worker thread of a run: one to three sequencer passes, the DDR wait and the retry wait
// between them, then the elapsed-time line and the emptied program list.

#include <cstdint>
#include <string>

namespace veltrix {

struct Workbench;

inline constexpr uint32_t kDdrTestWaitMs = 15000;  // the board runs its memory test
inline constexpr uint32_t kRetryWaitMs = 3000;     // before the one retry pass

// True from StartRun until the worker has written its last line and emptied the program list:
// `running`, or a worker still finishing after its ending. START refuses a run while it holds.
bool RunInProgress(const Workbench& bench);

// Starts the worker thread of a prepared run. Sets `running` before the thread starts, so no
// ending can come first. Returns 0; kErrorBusy when a run is still in progress (nothing
// changes); 8 when the system refuses a thread (the run does not start and its program list is
// emptied).
int StartRun(Workbench& bench);

// Asks the run to stop, from any thread: every wait of the worker (the clock's waits and the
// port's reads and writes) returns within about 100 ms, no message box of the run is shown any
// more, and the run ends as aborted, port closed, record marked cancelled. Harmless when no run
// is active; StartRun clears it for the next run.
void CancelRun(Workbench& bench);
// CancelRun has been asked for this run.
bool RunCancelled(const Workbench& bench);

// The worker's waits: `ms` on the run's clock, cut short by CancelRun. False when the run was
// cancelled.
bool RunWait(Workbench& bench, uint32_t ms);

// Shows a message box of the run, unless the run has been cancelled.
void ShowRunMessage(Workbench& bench, const std::string& text);

// The thread body: the whole run. Normally reached through StartRun.
void RunWorker(Workbench& bench);

// "Elapsed Time : %d hours %d minutes %d seconds\n" for a run of `seconds`; whole days are not
// shown (hours count modulo 24).
std::string ElapsedTimeLine(int64_t seconds);

}  // namespace veltrix
