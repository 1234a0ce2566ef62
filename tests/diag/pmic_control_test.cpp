// PMIC control against the simulated board on a real pseudo-terminal: the rail layouts of every
// family, replies that need much stuffing or come short, and failures that must not read as a
// passed run.
#include "diag/pmic_control.h"

#include <algorithm>
#include <map>
#include <span>

#include "sim/pmic_status.h"
#include "tests/diag/sdram_board_fixture.h"

namespace veltrix::testing {
namespace {

using Lines = std::vector<std::string>;

constexpr const char* kRailsMessage =
    "PMIC 전류측정 가능상태입니다.  \n\nYou can check PMIC power rail.  ";

// 0x80 and 0xFF show as 1, 0x7F, 0x00 and the two bytes that must be escaped on the wire as 0.
Bytes CycledStatus(size_t n) {
    const Bytes cycle = {0x80, 0xFF, 0x7F, 0x00, 0x7E, 0x7D};
    Bytes out;
    for (size_t i = 0; i < n; ++i) {
        out.push_back(cycle[i % cycle.size()]);
    }
    return out;
}

class PmicControlTest : public SdramBoardFixture {
protected:
    // The AP check's block of a Sahara model, then `body`, the end block and the ending.
    Lines RunBody() const {
        const Lines lines = view_.Lines();
        const auto start = std::find(lines.begin(), lines.end(), "======== PMIC CONTROL START\n");
        return start == lines.end() ? Lines{} : Lines(start + 1, lines.end() - 1);
    }
};

TEST_F(PmicControlTest, Pm8941StatusWithElevenEscapedBytesPrintsBothTimesAndPasses) {
    UseModel("Corvin (MSM8974)", 0);
    options_.pmicFamily = 4;
    options_.pmicStatus = CycledStatus(35);  // 6 x 0x7E and 5 x 0x7D: 51 raw bytes and more
    StartBoard();
    Run(kPmic);
    const Lines print = {
        "PM8941 S1~S3=1,1,0",
        "PM8941 L1~L5=0,0,0,1,1   L6~L10=0,0,0,0,1",
        "PM8941 L11~L15=1,0,0,0,0   L16~L20=1,1,0,0,0",
        "PM8941 L21~L24=0,1,1,0",
        "PM8941 LVS1~LVS3=0,0,0",
        "PM8841 S1~S5=1,1,0,0,0",
    };
    Lines expected = print;
    expected.push_back("PMIC set on");
    expected.insert(expected.end(), print.begin(), print.end());
    expected.insert(expected.end(), {"======== END\n", "\n", "Test Completed !!\n"});
    EXPECT_EQ(RunBody(), expected) << console_.str();
    EXPECT_EQ(view_.Messages(), (Lines{kRailsMessage}));
    EXPECT_FALSE(bench_.state.record.pmicFailed);
    EXPECT_TRUE(bench_.state.record.Passed());
}

TEST_F(PmicControlTest, OtherModelsShowFiveWholeValues) {
    UseModel("Tamsin (APQ8064)", 1);
    options_.pmicStatus = {0x80, 0xFF, 0x7F, 0x00, 0x7E};
    StartBoard();
    Run(kPmic);
    const std::string line = "PMIC KR0=128   KR1=255   KR2=127   KR3=0   LPASS=126";
    EXPECT_EQ(RunBody(),
              (Lines{line, "PMIC set on", line, "======== END\n", "\n", "Test Completed !!\n"}));
}

TEST_F(PmicControlTest, EveryFamilyPrintsTheBoardsLayoutWholly) {
    // The board's own layout (sim) and the host's print agree on the number of regulators, and
    // the print has its lines per family.
    const std::map<int, size_t> lineCounts = {{1, 1}, {4, 6}, {5, 4}, {6, 5}, {7, 5}};
    for (const auto& [family, count] : lineCounts) {
        SCOPED_TRACE(family);
        const Bytes reply = sim::PmicStatusReply(family, true);
        EXPECT_EQ(PmicStatusByteCount(family), static_cast<int>(sim::PmicStatusByteCount(family)));
        const Lines lines = PmicStatusLines(family, std::span(reply).subspan(1));
        EXPECT_EQ(lines.size(), count);
        for (const std::string& line : lines) {
            EXPECT_EQ(line.find('-'), std::string::npos) << line;
        }
    }
}

TEST_F(PmicControlTest, ShortReplyShowsWhatTheBoardSentAndSaysSo) {
    UseModel("Ysolde Ferrand (MSM8610)", 0);
    options_.pmicFamily = 5;
    options_.pmicStatus = {0x80, 0x00, 0xFF};
    StartBoard();
    ConnectAndOpen();
    EXPECT_EQ(RunPmicControl(bench_), 0);
    const Lines print = {
        "PMIC status reply is short: 3 of 26 status bytes\n",
        "PM8110 S1~S4=1,0,1,-",
        "PM8110 L1~L5=-,-,-,-,-   L6~L10=-,-,-,-,-",
        "PM8110 L11~L15=-,-,-,-,-   L16~L20=-,-,-,-,-",
        "PM8110 L21~L22=-,-",
    };
    Lines expected = print;
    expected.push_back("PMIC set on");
    expected.insert(expected.end(), print.begin(), print.end());
    EXPECT_EQ(view_.Lines(), expected);
}

TEST_F(PmicControlTest, RefusedPmicOnFailsTheRunsPmicRecordButCompletesIt) {
    UseModel("Corvin (MSM8974)", 0);
    options_.pmicFamily = 4;
    StartBoard();
    board_->InjectFault({.kind = sim::FaultKind::kWrongCode, .command = 0x26, .code = 0x0D});
    Run(kPmic);
    const Lines body = RunBody();
    ASSERT_EQ(body.size(), 10u);
    EXPECT_EQ(Lines(body.begin() + 6, body.end()),
              (Lines{"FAIL to set PMIC on. 13", "======== END\n", "\n", "Test Completed !!\n"}));
    EXPECT_TRUE(view_.Messages().empty());
    EXPECT_EQ(bench_.state.record.ending, RunEnding::kCompleted);
    EXPECT_TRUE(bench_.state.record.pmicFailed);
    EXPECT_FALSE(bench_.state.record.Passed());
}

TEST_F(PmicControlTest, UnansweredSecondStatusKeepsTheFirstPrint) {
    UseModel("Amberly (MSM8926)", 0);
    options_.pmicFamily = 7;
    StartBoard();
    ConnectAndOpen();
    SetLinkTimeout(bench_.link, 100);
    board_->InjectFault({.kind = sim::FaultKind::kSilence, .command = 0x27, .skip = 1});
    EXPECT_EQ(RunPmicControl(bench_), kErrorInvalidHandle);
    const Lines lines = view_.Lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].rfind("PM8926 S1~S5=", 0), 0u);
    EXPECT_EQ(lines[5], "PMIC set on");
    EXPECT_EQ(lines[6], "FAIL to get PMIC status. ");
    EXPECT_TRUE(view_.Messages().empty());
}

TEST_F(PmicControlTest, CancelDuringPmicControlEndsTheRunAsAbortedNotAsFailed) {
    UseModel("Tamsin (APQ8064)", 1);
    StartBoard();
    view_.HoldAtLine("PMIC set on");
    RunSelections s;
    s.apCheck = s.pmicOn = true;
    s.model = "Tamsin (APQ8064)";
    Start(s);
    ASSERT_TRUE(view_.WaitUntilHeld(std::chrono::seconds(5)));
    CancelRun(bench_);
    view_.Release();
    JoinWorker(bench_);
    EXPECT_EQ(bench_.state.record.ending, RunEnding::kAborted);
    EXPECT_TRUE(bench_.state.record.cancelled);
    EXPECT_FALSE(bench_.state.record.pmicFailed);
    EXPECT_TRUE(view_.Messages().empty());
    EXPECT_EQ(RunBody().back(), "TEST aborted!!\n");
    EXPECT_FALSE(PortIsOpen(bench_.link));
}

}  // namespace
}  // namespace veltrix::testing
