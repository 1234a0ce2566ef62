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

// Results of StartRun besides 0.
inline constexpr int kStartRunInProgress = -6;

// Starts the worker thread of a prepared run. Sets `running` before the thread starts, so no
// ending can come first. Returns 0; kStartRunInProgress when a run is still in progress (nothing
// changes); 8 when the system refuses a thread (the run does not start and its program list is
// emptied).
int StartRun(Workbench& bench);

// The thread body: the whole run. Normally reached through StartRun.
void RunWorker(Workbench& bench);

// "Elapsed Time : %d hours %d minutes %d seconds\n" for a run of `seconds`; whole days are not
// shown (hours count modulo 24).
std::string ElapsedTimeLine(int64_t seconds);

}  // namespace veltrix
