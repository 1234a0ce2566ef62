#include "diag/run_worker.h"

#include "base/text_format.h"

namespace veltrix {
namespace {

constexpr int64_t kSecondsPerMinute = 60;
constexpr int64_t kSecondsPerHour = 3600;
constexpr int64_t kSecondsPerDay = 86400;

// Division rounding towards minus infinity, as the elapsed-time formula is written.
int64_t FloorDiv(int64_t value, int64_t divisor) {
    const int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

}  // namespace

std::string ElapsedTimeLine(int64_t seconds) {
    const int64_t hours =
        FloorDiv(seconds, kSecondsPerHour) - 24 * FloorDiv(seconds, kSecondsPerDay);
    const int64_t minutes =
        FloorDiv(seconds, kSecondsPerMinute) - 60 * FloorDiv(seconds, kSecondsPerHour);
    const int64_t secs = seconds - 60 * FloorDiv(seconds, kSecondsPerMinute);
    return Format("Elapsed Time : %d hours %d minutes %d seconds\n", static_cast<int>(hours),
                  static_cast<int>(minutes), static_cast<int>(secs));
}

}  // namespace veltrix
