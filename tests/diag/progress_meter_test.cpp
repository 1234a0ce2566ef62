// The rate and time left both front ends show beside the progress bar.
#include "diag/progress_meter.h"

#include <gtest/gtest.h>

namespace veltrix {
namespace {

using std::chrono::milliseconds;

TEST(ProgressMeterTest, RateAndTimeLeftFromTheBytesDone) {
    EXPECT_EQ(DurationText(65.4), "1:05");
    EXPECT_EQ(DurationText(7384), "2:03:04");
    EXPECT_EQ(DurationText(-3), "0:00");
    EXPECT_EQ(RateText(512), "512.0 B/s");
    EXPECT_EQ(RateText(3.5 * 1024 * 1024), "3.5 MB/s");

    ProgressMeter meter;
    const ProgressMeter::TimePoint t0{};
    EXPECT_EQ(meter.Update(1 << 20, 10 << 20, t0), "") << "one update gives no rate";
    EXPECT_EQ(meter.Update(2 << 20, 10 << 20, t0 + milliseconds(200)), "") << "too soon";
    EXPECT_EQ(meter.Update(0, 10 << 20, t0 + milliseconds(1000)), "") << "back: a new start";
    EXPECT_EQ(meter.Update(4 << 20, 10 << 20, t0 + milliseconds(3000)), "2.0 MB/s, 0:03 left");
    meter.Reset();
    EXPECT_EQ(meter.Update(9 << 20, 10 << 20, t0 + milliseconds(4000)), "");
}

}  // namespace
}  // namespace veltrix
