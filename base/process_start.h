#pragma once
// What every program of the system does first, before it opens any file or port.

namespace veltrix {

// Opens each standard stream (descriptors 0, 1 and 2) that the program was started without on
// the null device, so that no file or port opened later takes its number: a run log written to
// "standard output" would otherwise go into the board's port. And ignores SIGXFSZ, so that a
// write past the file-size limit fails with its error ("File too large") and is handled as any
// other failed write, instead of ending the process with files half written.
void PrepareProcess();

}  // namespace veltrix
