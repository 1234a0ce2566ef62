// Rate and time left on the status line, and the record positions the extraction reports.
#include "ui/progress_rate.h"

#include <gtest/gtest.h>

#include "ui/extraction_task.h"

namespace veltrix::ui {
namespace {

using std::chrono::milliseconds;

TEST(ProgressRateText, DurationsAndRates) {
    EXPECT_EQ(DurationText(0), "0:00");
    EXPECT_EQ(DurationText(65.4), "1:05");
    EXPECT_EQ(DurationText(7384), "2:03:04");
    EXPECT_EQ(DurationText(-3), "0:00");
    EXPECT_EQ(RateText(2.25, RateUnit::kPercent), "2.3 %/s");
    EXPECT_EQ(RateText(512, RateUnit::kBytes), "512.0 B/s");
    EXPECT_EQ(RateText(3.5 * 1024 * 1024, RateUnit::kBytes), "3.5 MB/s");
    EXPECT_EQ(RateText(5.0 * 1024 * 1024 * 1024 * 1024, RateUnit::kBytes), "5120.0 GB/s");
}

TEST(ProgressRate, MeasuresFromTheFirstUpdateAndRestartsWhenProgressGoesBack) {
    ProgressRate rate(RateUnit::kPercent);
    const ProgressRate::TimePoint t0{};
    EXPECT_EQ(rate.Update(10, 100, t0), "") << "one update gives no rate";
    EXPECT_EQ(rate.Update(11, 100, t0 + milliseconds(200)), "") << "too soon to tell";
    EXPECT_EQ(rate.Update(10, 100, t0 + milliseconds(1000)), "") << "back: a new read starts";
    EXPECT_EQ(rate.Update(10, 100, t0 + milliseconds(2000)), "") << "no progress, no rate";
    EXPECT_EQ(rate.Update(30, 100, t0 + milliseconds(5000)), "5.0 %/s, 0:14 left");
    rate.Reset();
    EXPECT_EQ(rate.Update(90, 100, t0 + milliseconds(6000)), "");
    EXPECT_EQ(rate.Update(100, 100, t0 + milliseconds(7000)), "10.0 %/s, 0:00 left");
}

TEST(ExtractedPosition, ReadsTheRecordLinesOnly) {
    EXPECT_EQ(ExtractedPosition("sbl1 -- 0x102000_0x10"), 0x102000u);
    EXPECT_EQ(ExtractedPosition("odd -- 0x1 name -- 0xff_0x0"), 0xffu);
    EXPECT_EQ(ExtractedPosition("Read Fail 0x2010"), std::nullopt);
    EXPECT_EQ(ExtractedPosition("x -- 0x_0x1"), std::nullopt);
    EXPECT_EQ(ExtractedPosition("x -- 0x12"), std::nullopt);
    EXPECT_EQ(ExtractedPosition("x -- 0xffffffffffffffffff_0x1"), std::nullopt);
}

}  // namespace
}  // namespace veltrix::ui
