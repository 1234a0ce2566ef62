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
// or one of the negative kPrepare codes: kPrepareNoProgramList when the file is missing,
// kPrepareProgramListUnusable (why in `state.programListProblem`) when it cannot be used or lists
// no partition for an eMMC test or a restore over the whole list.
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
// The same, with what is wrong with the program list for kPrepareProgramListUnusable.
std::string PrepareRunMessage(int result, std::string_view problem);

// The question START asks before a prepared run that changes the flash beyond what it tests:
// Erase (the whole eMMC, whatever partition is chosen), and "Read/Write" or "Write only" (the
// pattern stays in the first sectors of the partitions named, until RESTORE BOOT IMG). Empty for
// any other run.
std::string StartQuestion(const RunState& state);

// "Test in progress" box of START while a run is active.
inline constexpr std::string_view kTestInProgressMessage =
    "테스트가 진행 중 입니다.  \n\nTest in progress.  ";

}  // namespace veltrix
