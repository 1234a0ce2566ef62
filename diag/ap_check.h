#pragma once
// The AP check: the board's boot ROM answers in download mode, runs an uploaded program and, for
// the flash programmer, answers the streaming handshake. Every device test of a run begins here.

namespace veltrix {

struct Workbench;

// How often the AP check tries the port while the board runs its DDR test.
inline constexpr unsigned kDdrPollWaitMs = 30000;
// The uploaded program needs this long to start.
inline constexpr unsigned kProgrammerStartWaitMs = 2000;

// Uploads "2nd_loader.hex" (DLOAD or Sahara by the model's loader family) and connects to it.
// 0 pass; 31 fail (logged, message box where the operator must act); 21 when the upload failed
// during a DDR wait and the worker should try the pass once more. While `ddrWaiting` is set it
// first waits for the port to come back, keeping one "Elapsed time" line up to date.
int RunApCheck(Workbench& bench, int comPort);

// Uploads "ddr_debug.mbn" over Sahara, whatever the model; no handshake follows. 0 pass, 31 fail.
int RunDdrApCheck(Workbench& bench, int comPort);

}  // namespace veltrix
