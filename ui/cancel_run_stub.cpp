// TEMPORARY: see cancel_run_stub.h.
#include "ui/cancel_run_stub.h"

namespace veltrix {

void CancelRun(Workbench&) {}

}  // namespace veltrix
