#pragma once
// The run's outputs that every test shares: the run log and the result boxes.

#include <string_view>

#include "diag/run_view.h"

namespace veltrix {

struct Workbench;

// Lines shared by the sequencer and the tests.
inline constexpr std::string_view kEmptyLine = "\n";
inline constexpr std::string_view kSectionEndLine = "======== END\n";

// Inserts the line at position logLineCount, advances the count and keeps the newest line in
// view.
void AppendLog(Workbench& bench, std::string_view line);

// Writes `line` as the live line at position logLineCount, replacing what that position holds,
// without advancing the count (the AP check's waiting line during a DDR wait).
void ReplaceLiveLogLine(Workbench& bench, std::string_view line);
// Keeps the live line in the log: the next line goes below it.
void KeepLiveLogLine(Workbench& bench);

// Sets the box's text to "PASS", "FAIL" or "N/T".
void SetResult(Workbench& bench, ResultBox box, std::string_view text);

// What START does to the run's outputs before a run: the three boxes to "N/T" and the log
// position back to 0 (the front end empties its own list).
void ResetRunDisplay(Workbench& bench);

}  // namespace veltrix
