#include "ui/progress_rate.h"

#include <algorithm>
#include <cmath>

namespace veltrix::ui {
namespace {

// Less than this after the first update gives a rate too jumpy to show.
constexpr double kMinSpanSeconds = 0.5;
constexpr double kUnitStep = 1024.0;

}  // namespace

QString ProgressRate::Update(double done, double total, TimePoint now) {
    if (!started_ || done < lastDone_) {
        started_ = true;
        firstDone_ = lastDone_ = done;
        firstTime_ = now;
        return {};
    }
    lastDone_ = done;
    const double span = std::chrono::duration<double>(now - firstTime_).count();
    const double gained = done - firstDone_;
    if (span < kMinSpanSeconds || gained <= 0) {
        return {};
    }
    const double rate = gained / span;
    const double left = std::max(0.0, total - done) / rate;
    return QStringLiteral("%1, %2 left").arg(RateText(rate, unit_), DurationText(left));
}

QString DurationText(double seconds) {
    const long long whole = std::llround(std::max(0.0, seconds));
    const long long hours = whole / 3600;
    const long long minutes = whole / 60 % 60;
    const long long secs = whole % 60;
    if (hours > 0) {
        return QStringLiteral("%1:%2:%3")
            .arg(hours)
            .arg(minutes, 2, 10, QLatin1Char('0'))
            .arg(secs, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1:%2").arg(minutes).arg(secs, 2, 10, QLatin1Char('0'));
}

QString RateText(double perSecond, RateUnit unit) {
    if (unit == RateUnit::kPercent) {
        return QStringLiteral("%1 %/s").arg(perSecond, 0, 'f', 1);
    }
    static const char* const kUnits[] = {"B/s", "KB/s", "MB/s", "GB/s"};
    int step = 0;
    while (perSecond >= kUnitStep && step < 3) {
        perSecond /= kUnitStep;
        ++step;
    }
    return QStringLiteral("%1 %2").arg(perSecond, 0, 'f', 1).arg(QLatin1String(kUnits[step]));
}

}  // namespace veltrix::ui
