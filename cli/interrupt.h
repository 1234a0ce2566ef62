#pragma once
// Ctrl-C during a run: the first SIGINT (or SIGTERM) cancels the run through the engine, which
// ends it as aborted within a second with the port closed. No second Ctrl-C is needed.

#include <atomic>

namespace veltrix::cli {

class CancelOnInterrupt {
public:
    // From now until destruction, SIGINT and SIGTERM set `cancel` (the run's cancel flag).
    explicit CancelOnInterrupt(std::atomic<bool>& cancel);
    ~CancelOnInterrupt();
    CancelOnInterrupt(const CancelOnInterrupt&) = delete;
    CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;

    // A signal arrived while this guard stood.
    static bool Interrupted();
};

}  // namespace veltrix::cli
