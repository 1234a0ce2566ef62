#pragma once
// A clock for tests: Sleep advances time at once instead of sleeping, and every wait is recorded.
// A hook may run after each wait, on the waiting thread: a test's stand-in for what happens
// meanwhile (the board coming back, the operator pressing STOP).

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
        {
            std::lock_guard lock(mutex_);
            sleeps_.push_back(ms);
            nowMs_ += ms;
        }
        if (onSleep) {
            onSleep(ms);
        }
    }
    // One recorded wait; a cancel that comes while it "runs" (from the hook) ends it.
    bool SleepUnlessCancelled(uint32_t ms, const std::atomic<bool>& cancel) override {
        if (cancel) {
            return false;
        }
        Sleep(ms);
        return !cancel;
    }
    int64_t NowSeconds() override {
        std::lock_guard lock(mutex_);
        return nowMs_ / 1000;
    }
    std::vector<uint32_t> Sleeps() const {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }
    // How many waits of `ms` there were.
    int Count(uint32_t ms) const {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (uint32_t s : sleeps_) {
            n += s == ms ? 1 : 0;
        }
        return n;
    }
    // Runs `cue` after the `nth` wait of `ms` (1 = the first).
    void CueAt(uint32_t ms, int nth, std::function<void()> cue) {
        onSleep = [this, ms, nth, cue = std::move(cue)](uint32_t slept) {
            if (slept == ms && Count(ms) == nth) {
                cue();
            }
        };
    }

    std::function<void(uint32_t ms)> onSleep;

private:
    mutable std::mutex mutex_;
    int64_t nowMs_;
    std::vector<uint32_t> sleeps_;
};

}  // namespace veltrix::testing
