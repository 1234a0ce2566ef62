#pragma once
// Every wait and every clock reading of the system goes through a Clock, so that tests can run
// the 15 s / 30 s / 2 s waits of a run without sleeping.

#include <atomic>
#include <cstdint>

namespace veltrix {

class Clock {
public:
    virtual ~Clock() = default;
    virtual void Sleep(uint32_t ms) = 0;
    // Sleeps `ms`, or less once `cancel` is set (noticed within about 100 ms). False when
    // cancelled.
    virtual bool SleepUnlessCancelled(uint32_t ms, const std::atomic<bool>& cancel);
    // Wall-clock time in whole seconds.
    virtual int64_t NowSeconds() = 0;
};

// The real clock: sleeps the calling thread, reads the system clock.
class SystemClock final : public Clock {
public:
    void Sleep(uint32_t ms) override;
    int64_t NowSeconds() override;
    // One shared instance; it holds no state.
    static SystemClock& Instance();
};

}  // namespace veltrix
