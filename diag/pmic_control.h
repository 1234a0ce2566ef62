#pragma once
// PMIC control: the regulator status of the board's PMIC before and after the flash programmer
// switches it on, one run-log line per group of regulators, then the box that tells the operator
// the rails can be measured.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace veltrix {

class RunContext;
struct ProgrammerSession;

// The pause after each print, for the PMIC to settle.
inline constexpr uint32_t kPmicSettleWaitMs = 500;

// The status lines of a PMIC family (4, 5, 6, 7; any other: the five raw values of family 1)
// for the status bytes the board sent (reply bytes 1 on, without the code byte and the frame
// check). A regulator shows 1 when bit 7 of its byte is set, else 0; family 1 shows whole
// values. A position the board did not send shows "-".
std::vector<std::string> PmicStatusLines(int pmicFamily, std::span<const uint8_t> statusBytes);

// How many status bytes a family's print shows (35, 26, 33, 34, or 5).
int PmicStatusByteCount(int pmicFamily);

// Status, PMIC ON, status again (printed in the layout of `pmicFamily`), then the box. 0 when all
// three exchanges succeeded; 6 when one failed (its line logged, nothing further sent, no box);
// kErrorOperationAborted when the run was cancelled.
int RunPmicControl(RunContext& ctx, ProgrammerSession& session, int pmicFamily);

}  // namespace veltrix
