#pragma once
// A clock for tests: Sleep advances time at once instead of sleeping, and every wait is recorded.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "link/clock.h"

namespace veltrix::testing {

class FakeClock final : public Clock {
public:
    explicit FakeClock(int64_t startSeconds = 1'700'000'000) : nowMs_(startSeconds * 1000) {}

    void Sleep(uint32_t ms) override {
        std::lock_guard lock(mutex_);
        sleeps_.push_back(ms);
        nowMs_ += ms;
    }
    // One recorded wait; a cancel that comes while it "runs" (from OnSleep) ends it.
    bool SleepUnlessCancelled(uint32_t ms, const std::atomic<bool>& cancel) override {
        if (cancel) {
            return false;
        }
        Sleep(ms);
        if (onSleep) {
            onSleep();
        }
        return !cancel;
    }
    // Called after every cancellable wait, on the waiting thread (a test's stand-in for what
    // happens meanwhile, such as the operator pressing Cancel).
    std::function<void()> onSleep;

    int64_t NowSeconds() override {
        std::lock_guard lock(mutex_);
        return nowMs_ / 1000;
    }
    void Advance(int64_t seconds) {
        std::lock_guard lock(mutex_);
        nowMs_ += seconds * 1000;
    }
    std::vector<uint32_t> Sleeps() const {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }

private:
    mutable std::mutex mutex_;
    int64_t nowMs_;
    std::vector<uint32_t> sleeps_;
};

}  // namespace veltrix::testing
