#include "diag/workbench.h"

namespace veltrix {

Workbench::Workbench(RunView& view, RunSteps& steps, Clock& clock, std::ostream& console)
    : view(view), steps(steps), clock(clock), console(console) {
    link.clock = &clock;
    link.console = &console;
    state.session.link = &link;
    state.programList.console = &console;
}

Workbench::~Workbench() { JoinWorker(*this); }

void JoinWorker(Workbench& bench) {
    if (bench.worker.joinable() && bench.worker.get_id() != std::this_thread::get_id()) {
        bench.worker.join();
    }
}

}  // namespace veltrix
