#pragma once
// The AP check: the board's boot ROM answers in download mode, runs an uploaded program and, for
// the flash programmer, answers the streaming handshake. Every device test of a run begins here.

#include <cstdint>

namespace veltrix {

struct Workbench;

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

// Uploads "2nd_loader.hex" (DLOAD or Sahara by the model's loader family) and connects to it.
// 0 pass; 31 fail (logged, message box where the operator must act); 21 when the upload failed
// during a DDR wait and the worker should try the pass once more. While `ddrWaiting` is set it
// first waits for the port to come back, keeping one "Elapsed time" line up to date. When the
// port hangs up during the handshake, the port's words go in the log and the port is reopened
// once it is back within kReconnectWindowMs; the handshake then starts again. 995 when the run
// was cancelled during one of its waits.
int RunApCheck(Workbench& bench, int comPort);

// Uploads "ddr_debug.mbn" over Sahara, whatever the model; no handshake follows. 0 pass, 31 fail;
// kErrorOperationAborted when the run was cancelled. After a reset the board may take a while to
// come back: the port is tried for up to `portWaitMs` before its failure is reported.
int RunDdrApCheck(Workbench& bench, int comPort, uint32_t portWaitMs = 0);

}  // namespace veltrix
