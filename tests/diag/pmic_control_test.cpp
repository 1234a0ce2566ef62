// PMIC control against the simulated board: the rail layouts of the families in whole runs,
// replies that need much stuffing or come short, failures that must not read as a passed run,
// and the operator's cancel.
#include "diag/pmic_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "diag/ap_check.h"
#include "sim/pmic_status.h"
#include "tests/support/scene_board.h"

namespace veltrix::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kRailsMessage =
    "PMIC 전류측정 가능상태입니다.  \n\nYou can check PMIC power rail.  ";
const Lines kPm8941Print = {
    "PM8941 S1~S3=1,1,0",
    "PM8941 L1~L5=0,0,0,1,1   L6~L10=0,0,0,0,1",
    "PM8941 L11~L15=1,0,0,0,0   L16~L20=1,1,0,0,0",
    "PM8941 L21~L24=0,1,1,0",
    "PM8941 LVS1~LVS3=0,0,0",
    "PM8841 S1~S5=1,1,0,0,0",
};

// 0x80 and 0xFF show as 1; 0x7F, 0x00 and the two bytes that are escaped on the wire as 0.
Bytes CycledStatus(size_t n) {
    const Bytes cycle = {0x80, 0xFF, 0x7F, 0x00, 0x7E, 0x7D};
    Bytes out;
    for (size_t i = 0; i < n; ++i) {
        out.push_back(cycle[i % cycle.size()]);
    }
    return out;
}

RunSelections PmicRun(const std::string& model) {
    RunSelections s;
    s.apCheck = s.pmicOn = true;
    s.model = model;  // PMIC ON needs no target directory
    return s;
}

class PmicControlTest : public SceneRunTest {};

TEST_F(PmicControlTest, StatusIsPrintedInTheFamilysLayoutBeforeAndAfterPmicOn) {
    const struct {
        const char* model;
        Bytes status;
        Lines print;
    } cases[] = {
        // 6 x 0x7E and 5 x 0x7D: 51 raw bytes and more.
        {kSaharaModel, CycledStatus(35), kPm8941Print},
        {kDloadModel,
         {0x80, 0xFF, 0x7F, 0x00, 0x7E},
         {"PMIC KR0=128   KR1=255   KR2=127   KR3=0   LPASS=126"}},
        // A short reply shows what the board sent, and says so.
        {"Ysolde Ferrand (MSM8610)",
         {0x80, 0x00, 0xFF},
         {"PMIC status reply is short: 3 of 26 status bytes\n", "PM8110 S1~S4=1,0,1,-",
          "PM8110 L1~L5=-,-,-,-,-   L6~L10=-,-,-,-,-",
          "PM8110 L11~L15=-,-,-,-,-   L16~L20=-,-,-,-,-", "PM8110 L21~L22=-,-"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        scene.WriteModel(c.model);
        options = BoardFor(scene, c.model);
        options.pmicStatus = c.status;
        board.reset();
        std::vector<std::string> lastLineAtWait;  // the board settles between status and PMIC ON
        rig.clock.onSleep = [&](uint32_t ms) {
            if (ms == kPmicSettleWaitMs && !rig.view.Lines().empty()) {
                lastLineAtWait.push_back(rig.view.Lines().back());
            }
        };
        Run(PmicRun(c.model));
        rig.clock.onSleep = nullptr;
        EXPECT_EQ(std::count(lastLineAtWait.begin(), lastLineAtWait.end(), c.print.back()), 1);
        EXPECT_EQ(rig.After("======== PMIC CONTROL START"),
                  Join({c.print,
                        {"PMIC set on"},
                        c.print,
                        {"======== END\n", "\n", "Test Completed !!\n"}}))
            << rig.console.str();
        EXPECT_EQ(rig.view.Messages().back(), kRailsMessage);
        EXPECT_EQ(Requests(*board, 0x26).size(), 1u);  // PMIC ON, once
        EXPECT_TRUE(rig.record().Passed());
    }
}

// The board's own layout and the host's print agree on the number of regulators, and the print
// has its lines per family.
TEST(PmicStatusLinesTest, EveryFamilyPrintsTheBoardsLayoutWholly) {
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

// A failed exchange ends the step with its line and nothing further sent: no box for the rails.
TEST(PmicControlFailureTest, FailedExchangeStopsTheStepWithItsLine) {
    using sim::FaultKind;
    const struct {
        FaultKind kind;
        int command;
        int skip;
        Lines tail;
        size_t requests;  // status and PMIC ON requests sent
    } cases[] = {
        {FaultKind::kSilence, 0x27, 0, {"FAIL to get PMIC status. "}, 1},
        {FaultKind::kWrongCode, 0x26, 0, Join({kPm8941Print, {"FAIL to set PMIC on. 13"}}), 2},
        {FaultKind::kSilence, 0x27, 1,
         Join({kPm8941Print, {"PMIC set on", "FAIL to get PMIC status. "}}), 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail.back());
        BenchScene scene;
        scene.WriteModel(kSaharaModel);
        sim::BoardOptions options = BoardFor(scene, kSaharaModel);
        options.pmicStatus = CycledStatus(35);
        options.faults = {{.kind = c.kind, .command = c.command, .skip = c.skip, .code = 0x0D}};
        const auto board = StartBoard(options);
        TestRig test(scene, kSaharaModel);
        test.link.SetTimeout(100);
        ASSERT_EQ(RunApCheck(test.ctx, test.session, test.files), 0);
        test.NewRun();
        EXPECT_EQ(RunPmicControl(test.ctx, test.session, 4), kErrorInvalidHandle);
        EXPECT_EQ(test.view.Lines(), c.tail);
        EXPECT_TRUE(test.view.Messages().empty());
        EXPECT_EQ(Requests(*board, 0x27).size() + Requests(*board, 0x26).size(), c.requests);
    }
}

TEST_F(PmicControlTest, CancelDuringPmicControlEndsTheRunAsAbortedNotAsFailed) {
    scene.WriteModel(kDloadModel);
    options = BoardFor(scene, kDloadModel);
    ReadyBoard(board, options);
    rig.view.HoldAtLine("PMIC set on");
    ASSERT_EQ(rig.Start(PmicRun(kDloadModel), kBoardPort), 0);
    ASSERT_TRUE(rig.view.WaitUntilHeld(5s));
    rig.engine.Cancel();
    rig.view.Release();
    ASSERT_TRUE(rig.WaitForEnd());
    EXPECT_EQ(rig.record().ending, RunEnding::kAborted);
    EXPECT_TRUE(rig.record().cancelled);
    EXPECT_FALSE(rig.record().pmicFailed);
    EXPECT_TRUE(rig.view.Messages().empty());
    EXPECT_EQ(rig.After("PMIC set on").back(), "TEST aborted!!\n");
    SerialLink fresh;
    EXPECT_EQ(fresh.Open(kBoardPort), 0) << fresh.lastError();
}

}  // namespace
}  // namespace veltrix::testing
