#pragma once
// One pass over the selected tests in their fixed order of priority. A pass ends the run
// (CompleteRun or AbortRun), hands over to the DDR wait, or, when the AP check asks for its retry,
// ends with no ending.

namespace veltrix {

struct Workbench;

void RunSequencer(Workbench& bench, int comPort);

}  // namespace veltrix
