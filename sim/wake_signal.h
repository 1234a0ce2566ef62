#pragma once
// A signal the board thread can wait on together with its port: once raised it stays raised,
// so every later wait returns at once (used to stop the board without a hang).

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
    bool Raised() const;
    // Waits up to `ms` milliseconds; true when the signal is raised.
    bool WaitFor(int ms) const;
    // A descriptor that polls readable once the signal is raised (-1 if none could be made).
    int fd() const { return fds_[0]; }

private:
    int fds_[2] = {-1, -1};
};

}  // namespace veltrix::sim
