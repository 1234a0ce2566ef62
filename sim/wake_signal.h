#pragma once
// A signal the board thread can wait on together with its port: once raised it stays raised,
// so every later wait returns at once (used to stop the board without a hang).

#include <atomic>

namespace veltrix::sim {

class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    void Raise();
    // Lowers a raised signal again (before the board is started anew).
    void Clear();
    // Asked between requests: a flag, not a system call.
    bool Raised() const { return raised_.load(); }
    // Waits up to `ms` milliseconds; true when the signal is raised.
    bool WaitFor(int ms) const;
    // A descriptor that polls readable once the signal is raised (-1 if none could be made).
    int fd() const { return fds_[0]; }

private:
    int fds_[2] = {-1, -1};
    std::atomic<bool> raised_{false};
};

}  // namespace veltrix::sim
