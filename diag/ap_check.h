#pragma once
// The AP check: the board's boot ROM answers in download mode, runs an uploaded program and, for
// the flash programmer, answers the streaming handshake. Every device test of a run begins here.

#include <cstdint>

namespace veltrix {

class RunContext;
struct ProgrammerSession;
struct RunFiles;

// How often the AP check tries the port while the board runs its DDR test.
inline constexpr unsigned kDdrPollWaitMs = 30000;
// The uploaded program needs this long to start.
inline constexpr unsigned kProgrammerStartWaitMs = 2000;
// A board that drops off the bus after the upload (it re-enumerates) is looked for this often,
// for as long as the handshake's ten attempts could take against a silent programmer
// (10 x (1000 ms time-out + 500 ms)), and at most this many times in one check.
inline constexpr unsigned kReopenPollMs = 500;
inline constexpr unsigned kReconnectWindowMs = 15000;
inline constexpr int kMaxReconnects = 3;

// Opens the port the session's link is bound to (none bound: 31) and uploads "2nd_loader.hex"
// (DLOAD or Sahara by the model's loader family), then connects to it. 0 pass (the port stays
// open); 31 fail (logged, message box where the operator must act, AP box FAIL when the upload
// failed); kErrorOperationAborted when the run was cancelled during a wait. When the port hangs up
// during the handshake, the port's words go in the log and the port is reopened once it is back
// within kReconnectWindowMs; the handshake then starts again.
int RunApCheck(RunContext& ctx, ProgrammerSession& session, const RunFiles& files);

// The AP check after a DDR test: waits for the board's port to come back (polling every 30 s,
// one live "Elapsed time" line, for up to `boardWaitMs`: a board that does not come back in time
// gives 31, logged, with "the board did not come back" as the run's reason), then reloads the
// programmer without a start line, pass block or result box. As RunApCheck, and 21 when the
// upload failed and `mayRetry` (nothing logged then: the worker tries the pass once more).
int RunApCheckAfterDdrWait(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                           bool mayRetry, uint32_t boardWaitMs);

// Uploads "ddr_debug.mbn" over Sahara, whatever the model; no handshake follows. 0 pass, 31 fail;
// kErrorOperationAborted when the run was cancelled. After a reset the board may take a while to
// come back: the port is tried for up to `portWaitMs` before its failure is reported.
int RunDdrApCheck(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                  uint32_t portWaitMs);

}  // namespace veltrix
