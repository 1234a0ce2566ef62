#pragma once
// Run preparation on the user-interface thread: the operator's selections go into RunState, are
// checked, and the model's program list is loaded.

#include <string>
#include <string_view>

#include "base/result_codes.h"
#include "diag/run_selections.h"

namespace veltrix {

struct RunState;

// Stores the selections (whatever the result), maps the option and level texts, checks them in
// order and, when a target directory is given, forces the AP check on and loads the model's
// "rawprogram0.xml" (below `state.workDir`) into an emptied program list. Returns kPrepareReady
// or one of the negative kPrepare codes.
int PrepareRun(RunState& state, const RunSelections& selections, int comPort);

// The eMMC test option for the option text (exact match), 1 for any other text.
int EmmcOptionFromText(std::string_view option);
// 1 when the level text is exactly "1", else 0.
unsigned DdrLevelFromText(std::string_view level);

// The COM port text read as a decimal number the way START reads it: leading blanks, an optional
// sign, then the digits up to the first other character ("3x" gives 3). Text that is not a
// number, a negative number or one out of range gives 0 (no port chosen).
int ParseComPort(std::string_view text);

// The message box START shows for a negative PrepareRun result; empty for any other value.
std::string_view PrepareRunMessage(int result);

// "Test in progress" box of START while a run is active.
inline constexpr std::string_view kTestInProgressMessage =
    "테스트가 진행 중 입니다.  \n\nTest in progress.  ";

}  // namespace veltrix
