#pragma once
// Rate and time left of a long read, write or extraction, from its progress updates: the bytes
// done since the first update over the time since then. The window and the command line show it
// beside the progress bar.

#include <chrono>
#include <cstdint>
#include <string>

namespace veltrix {

class ProgressMeter {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // Forgets earlier updates: the next one starts a new measurement.
    void Reset() { started_ = false; }

    // Takes `done` of `total` bytes at `now`. Returns "<rate>, <m:ss> left" once half a second
    // has passed and the amount grew since the measurement started; empty text before that.
    // Progress that goes backwards (the next partition starting at 0) starts a new measurement.
    std::string Update(uint64_t done, uint64_t total, TimePoint now);

private:
    bool started_ = false;
    uint64_t firstDone_ = 0;
    uint64_t lastDone_ = 0;
    TimePoint firstTime_{};
};

// "1:05" or "2:03:04": whole seconds as minutes and seconds, with hours when there are any.
std::string DurationText(double seconds);
// Bytes per second scaled to B/s, KB/s, MB/s or GB/s (1024-based), one decimal: "13.6 MB/s".
std::string RateText(double bytesPerSecond);

}  // namespace veltrix
