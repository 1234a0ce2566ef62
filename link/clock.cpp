#include "link/clock.h"

#include <chrono>
#include <thread>

namespace veltrix {

namespace {
// How soon a cancelled sleep notices.
constexpr uint32_t kCancelSliceMs = 100;
}  // namespace

bool Clock::SleepUnlessCancelled(uint32_t ms, const std::atomic<bool>& cancel) {
    while (ms > 0 && !cancel) {
        const uint32_t slice = ms < kCancelSliceMs ? ms : kCancelSliceMs;
        Sleep(slice);
        ms -= slice;
    }
    return !cancel;
}

void SystemClock::Sleep(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int64_t SystemClock::NowSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

SystemClock& SystemClock::Instance() {
    static SystemClock clock;
    return clock;
}

}  // namespace veltrix
