#pragma once
// Ctrl-C during a run or an extraction: the first SIGINT (or SIGTERM, or SIGHUP when the terminal
// closes, or SIGPIPE when the reader of standard output goes away) cancels the work through its
// cancel flag; a run then ends as aborted within a second with the port closed and its record
// written. No second Ctrl-C is needed.

#include <atomic>

namespace veltrix::cli {

class CancelOnInterrupt {
public:
    // From now until destruction, SIGINT, SIGTERM, SIGHUP and SIGPIPE set `cancel`.
    explicit CancelOnInterrupt(std::atomic<bool>& cancel);
    ~CancelOnInterrupt();
    CancelOnInterrupt(const CancelOnInterrupt&) = delete;
    CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;

    // A signal arrived while this guard stood.
    static bool Interrupted();
};

// A reader of standard output that goes away (`| head`) must not end the process outside a run:
// SIGPIPE is ignored, and the failed write is reported instead.
void IgnoreBrokenPipe();

}  // namespace veltrix::cli
