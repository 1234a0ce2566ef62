// The texts of a run: the rate and time left both front ends show beside the progress bar, the
// texts START reads, and the elapsed-time line.
#include <gtest/gtest.h>

#include "diag/prepare_run.h"
#include "diag/progress_meter.h"
#include "diag/run_report.h"
#include "diag/run_worker.h"

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

// The texts START turns into the run's values, exactly as the dialog reads them.
TEST(PrepareTextsTest, OptionLevelAndPortTextsMapExactly) {
    EXPECT_EQ(EmmcOptionFromText("Read only"), 1);
    EXPECT_EQ(EmmcOptionFromText("Read/Write"), 2);
    EXPECT_EQ(EmmcOptionFromText("Write only"), 3);
    EXPECT_EQ(EmmcOptionFromText("Erase"), 4);
    EXPECT_EQ(EmmcOptionFromText("read only"), 1);
    EXPECT_EQ(DdrLevelFromText("1"), 1u);
    for (const char* level : {"0", "01", "2", ""}) {
        EXPECT_EQ(DdrLevelFromText(level), 0u) << level;
    }
    const std::pair<const char*, int> ports[] = {{"7", 7},   {" 12x", 12},      {"+3", 3},
                                                 {"99", 99}, {"-4", 0},         {"COM3", 0},
                                                 {"", 0},    {"99999999999", 0}};
    for (const auto& [text, port] : ports) {
        EXPECT_EQ(ParseComPort(text), port) << text;
    }
}

TEST(ElapsedTimeLineTest, CountsHoursModuloADay) {
    EXPECT_EQ(ElapsedTimeLine(0), "Elapsed Time : 0 hours 0 minutes 0 seconds\n");
    EXPECT_EQ(ElapsedTimeLine(90061), "Elapsed Time : 1 hours 1 minutes 1 seconds\n");
    EXPECT_EQ(ElapsedTimeLine(86399), "Elapsed Time : 23 hours 59 minutes 59 seconds\n");
}

// The verdict and the summary's PMIC field per ending: a failed box decides only a run that was not
// cancelled, and PMIC ON passes only in a run that completed.
TEST(VerdictTest, EndingBoxesAndCancelGiveTheVerdictAndThePmicField) {
    const struct {
        RunEnding ending;
        bool cancelled, emmcFailed, pmicFailed;
        const char* verdict;
        const char* pmic;  // with PMIC ON chosen
    } cases[] = {
        {RunEnding::kCompleted, false, false, false, "PASS", "PASS"},
        {RunEnding::kCompleted, false, true, true, "FAIL: EMMC, PMIC", "FAIL"},
        {RunEnding::kAborted, false, true, false, "FAIL: EMMC", "N/T"},
        {RunEnding::kAborted, true, true, false, "ABORTED: cancelled by the operator", "N/T"},
        {RunEnding::kAborted, false, false, false, "ABORTED: cancelled by the operator", "N/T"},
        {RunEnding::kRefused, false, false, false, "NOT STARTED", "N/T"},
    };
    for (const auto& c : cases) {
        RunReport report;
        report.selections.pmicOn = true;
        RunRecord& r = report.record;
        r.ending = c.ending;
        r.cancelled = c.cancelled;
        r.pmicFailed = c.pmicFailed;
        r.abortReason = "cancelled by the operator";
        r.boxes[static_cast<size_t>(ResultBox::kEmmc)] = c.emmcFailed ? kResultFail : kResultPass;
        EXPECT_EQ(VerdictOf(r).text, c.verdict) << c.verdict;
        EXPECT_EQ(PmicResult(report), c.pmic) << c.verdict;
    }
}

}  // namespace
}  // namespace veltrix
