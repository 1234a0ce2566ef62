#pragma once
// Rate and time left of a long read or extraction, worked out from its progress updates: the
// amount done since the first update over the time since then. Shown on the status line beside
// the percentages the tests report.

#include <QString>
#include <chrono>

namespace veltrix::ui {

enum class RateUnit { kPercent, kBytes };

class ProgressRate {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    explicit ProgressRate(RateUnit unit) : unit_(unit) {}

    // Forgets earlier updates: the next one starts a new measurement.
    void Reset() { started_ = false; }

    // Takes `done` of `total` at `now`. Returns "<rate>/s, <m:ss> left" once some time has passed
    // and the amount grew since the measurement started; empty text before that. Progress that
    // goes backwards (the next partition's read starting at 0) starts a new measurement.
    QString Update(double done, double total, TimePoint now);

private:
    RateUnit unit_;
    bool started_ = false;
    double firstDone_ = 0;
    double lastDone_ = 0;
    TimePoint firstTime_{};
};

// "1:05" or "2:03:04": whole seconds as minutes and seconds, with hours when there are any.
QString DurationText(double seconds);
// "12.5 %/s", or bytes per second scaled to B/s, KB/s, MB/s or GB/s (1024-based).
QString RateText(double perSecond, RateUnit unit);

}  // namespace veltrix::ui
