#include "diag/progress_meter.h"

#include <algorithm>
#include <cmath>

#include "base/text_format.h"

namespace veltrix {
namespace {

// Less than this after the first update gives a rate too jumpy to show.
constexpr double kMinSpanSeconds = 0.5;
constexpr double kUnitStep = 1024.0;

}  // namespace

std::string ProgressMeter::Update(uint64_t done, uint64_t total, TimePoint now) {
    if (!started_ || done < lastDone_) {
        started_ = true;
        firstDone_ = lastDone_ = done;
        firstTime_ = now;
        return {};
    }
    lastDone_ = done;
    const double span = std::chrono::duration<double>(now - firstTime_).count();
    const double gained = static_cast<double>(done - firstDone_);
    if (span < kMinSpanSeconds || gained <= 0) {
        return {};
    }
    const double rate = gained / span;
    const double left = static_cast<double>(total > done ? total - done : 0) / rate;
    return RateText(rate) + ", " + DurationText(left) + " left";
}

std::string DurationText(double seconds) {
    const long long whole = std::llround(std::max(0.0, seconds));
    const long long hours = whole / 3600;
    const long long minutes = whole / 60 % 60;
    const long long secs = whole % 60;
    return hours > 0 ? Format("%lld:%02lld:%02lld", hours, minutes, secs)
                     : Format("%lld:%02lld", minutes, secs);
}

std::string RateText(double bytesPerSecond) {
    static const char* const kUnits[] = {"B/s", "KB/s", "MB/s", "GB/s"};
    int step = 0;
    while (bytesPerSecond >= kUnitStep && step < 3) {
        bytesPerSecond /= kUnitStep;
        ++step;
    }
    return Format("%.1f %s", bytesPerSecond, kUnits[step]);
}

}  // namespace veltrix
