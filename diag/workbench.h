#pragma once
// The one owner of a run's process-wide records: the front end creates a Workbench, passes it to
// every run operation and keeps it for the life of the window. Several workbenches can serve
// several boards; nothing here is global.

#include <atomic>
#include <iosfwd>
#include <thread>

#include "diag/run_state.h"
#include "diag/run_steps.h"
#include "diag/run_view.h"
#include "layout/partition_index.h"
#include "link/clock.h"
#include "link/serial_link.h"

namespace veltrix {

struct Workbench {
    // The link writes its diagnostics to `console` and waits through `clock`; the run's session
    // refers to the link.
    Workbench(RunView& view, RunSteps& steps, Clock& clock, std::ostream& console);
    // Waits for a worker that is still running (see JoinWorker).
    ~Workbench();
    Workbench(const Workbench&) = delete;
    Workbench& operator=(const Workbench&) = delete;

    RunView& view;
    RunSteps& steps;
    Clock& clock;
    std::ostream& console;

    SerialLink link;
    RunState state;
    PartitionIndex index;
    // During a DDR wait the AP check has already asked for its one retry pass.
    bool apRetried = false;

    // The run's worker thread and whether it is still doing work: set by StartRun, cleared by
    // the worker as its very last step (after the elapsed-time line and the program list).
    std::thread worker;
    std::atomic<bool> workerActive{false};
};

// Waits until the worker thread, if any, has ended. Call it from a thread the worker does not
// wait on (a front end whose view calls block on its own thread must not wait here while a run
// is active).
void JoinWorker(Workbench& bench);

}  // namespace veltrix
