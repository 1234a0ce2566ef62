// Runs and extractions from the window: the worker's output reaching the window in order, STOP
// and closing during a run, Erase asking first, the extraction off the GUI thread with START
// held, and one whole run of the shipped tests against the simulated board.
#include <QTest>
#include <filesystem>

#include "diag/prepare_run.h"
#include "tests/support/bench_scene.h"
#include "tests/support/scene_board.h"
#include "tests/ui/dialog_fixture.h"

namespace veltrix::testing {
namespace {

constexpr const char* kStopAndClose =
    "테스트를 중지하고 종료하시겠습니까?  \n\nStop the test and close?  ";

// An AP check that holds the run until it is cancelled.
int WaitForCancel(ScriptedCall& call) {
    return call.ctx.Wait(60000) ? kErrorSuccess : kErrorOperationAborted;
}

// The worker's log lines, status lines, progress and result boxes, and a message box that holds
// it, all arrive on the GUI thread in the order written; the dialog reads the port and the model
// from its lists, and a text that is no port is refused.
TEST_F(DialogTest, WorkerOutputReachesTheWindowInOrder) {
    int linesWhenShown = -1;
    script.Answer("CheckAp", [&](ScriptedCall& call) {
        for (int i = 0; i < 50; ++i) {
            call.ctx.Log("line " + std::to_string(i) + "\n");
            call.ctx.Status("status " + std::to_string(i));
            call.ctx.Progress(i * 2);
        }
        call.ctx.ShowMessage("held");
        call.ctx.Log("after the box\n");
        call.ctx.SetResult(ResultBox::kAp, kResultPass);
        return kErrorSuccess;
    });
    Open();
    SetUpApCheck(kBoardPort);
    c().comPort->setEditText("COM");
    dialog->OnStart();
    EXPECT_EQ(messages, Lines{std::string(PrepareRunMessage(kPrepareNoComPort))});
    Select(*c().comPort, QString::number(kBoardPort));
    onMessage = [&] { linesWhenShown = static_cast<int>(LogLines().size()); };
    dialog->OnStart();
    EXPECT_TRUE(c().stop->isEnabled());
    ASSERT_TRUE(WaitForRunEnd());

    EXPECT_EQ(script.Calls(), Lines{"CheckAp(" + std::to_string(kBoardPort) + ")"});
    const Lines lines = LogLines();
    ASSERT_GE(lines.size(), 55u);
    EXPECT_EQ(lines[0], std::string("[") + kDloadModel + "]\n");
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(lines[2 + i], "line " + std::to_string(i) + "\n");
    }
    EXPECT_EQ(lines[52], "after the box\n");
    EXPECT_EQ(linesWhenShown, 52) << "the worker waited for the box";
    EXPECT_EQ(messages.back(), "held");
    EXPECT_TRUE(allMessagesOnGuiThread);
    // The status line ends with the run's verdict, above the run's last status.
    EXPECT_EQ(c().statusLine->item(0)->text(), "PASS");
    EXPECT_EQ(c().statusLine->item(1)->text(), "status 49");
    EXPECT_EQ(c().progress->value(), 98);
    EXPECT_EQ(c().apResult->text(), "PASS");
    EXPECT_EQ(c().runLog->currentRow(), c().runLog->count() - 1) << "the newest line is selected";
}

// Only STOP or an agreed close ends a run: Escape leaves it alone, closing asks first and a No
// keeps it going; a Yes cancels it and the window closes when it has ended, without asking
// again. With no run, Escape closes the window.
TEST_F(DialogTest, StopOrAnAgreedCloseEndsARun) {
    script.Answer("CheckAp", WaitForCancel);
    script.Answer("CheckAp", kErrorSuccess);
    script.Answer("CheckAp", WaitForCancel);
    Open();
    SetUpApCheck(kBoardPort);
    dialog->OnStart();
    ASSERT_TRUE(WaitFor([&] { return script.CallCount("CheckAp") == 1; }, 5000));
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());
    QTest::mouseClick(c().stop, Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd(3000));
    EXPECT_TRUE(LogHas("Test cancelled by the operator\n"));
    EXPECT_TRUE(LogHas("TEST aborted!!\n"));
    EXPECT_FALSE(c().stop->isEnabled());

    dialog->OnStart();  // a new run starts and completes
    ASSERT_TRUE(WaitForRunEnd(3000));
    EXPECT_TRUE(LogHas("Test Completed !!\n"));

    dialog->OnStart();
    ASSERT_TRUE(WaitFor([&] { return script.CallCount("CheckAp") == 3; }, 5000));
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    yesNoAnswers = {false, true};
    EXPECT_FALSE(dialog->close());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->engine().InProgress()) << "neither Escape nor No stops the run";
    EXPECT_EQ(questions, Lines{kStopAndClose});
    dialog->close();
    ASSERT_TRUE(WaitFor([&] { return !dialog->isVisible(); }, 3000));
    EXPECT_FALSE(dialog->engine().InProgress());
    EXPECT_EQ(dialog->engine().Record().ending, RunEnding::kAborted);
    EXPECT_EQ(questions.size(), 2u);

    Open();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible()) << "with no run, Escape closes the window";
    EXPECT_EQ(questions.size(), 2u) << "no run, no question";
}

// Erase clears the whole eMMC whatever partition is chosen, so START asks first; No starts
// nothing and keeps the last run's log. "dump" makes every option a read: no question.
TEST_F(DialogTest, EraseAsksBeforeItStarts) {
    const std::string question = std::string(kDloadModel) +
                                 ": 전체 eMMC를 지웁니다. 계속하시겠습니까?  \n\nThis erases the "
                                 "whole eMMC of " +
                                 kDloadModel + ", not one partition. Continue?  ";
    const struct {
        const char* option;
        bool dump;
        bool yes;
        size_t questions;
        bool starts;
    } cases[] = {
        {"Read/Write", false, false, 0, true},
        {"Erase", false, false, 1, false},
        {"Erase", true, false, 0, true},
        {"Erase", false, true, 1, true},
    };
    for (int i = 0; i < 3; ++i) {
        script.Answer("CheckAp", kErrorSuccess);  // the run then ends at the closed port
    }
    Open();
    SetUpApCheck(kBoardPort);
    c().emmcTest->setChecked(true);
    c().partition->setEditText("sbl2");
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(row.option) + (row.dump ? " dump" : ""));
        Select(*c().option, row.option);
        c().dump->setChecked(row.dump);
        questions.clear();
        yesNoAnswers = {row.yes};
        c().runLog->addItem("an earlier run");
        const int checks = script.CallCount("CheckAp");
        dialog->OnStart();
        ASSERT_TRUE(WaitForRunEnd());
        EXPECT_EQ(questions, Lines(row.questions, question));
        EXPECT_EQ(script.CallCount("CheckAp"), checks + (row.starts ? 1 : 0));
        EXPECT_EQ(c().runLog->findItems("an earlier run", Qt::MatchExactly).isEmpty(), row.starts);
    }
}

// The extraction runs off the GUI thread, its lines in order; while it rewrites the folder
// neither START nor Extract can be pressed, and both come back when it has ended.
TEST_F(DialogTest, ExtractionRunsOffTheGuiThreadWithStartHeld) {
    TotalImage image;
    for (int i = 0; i < 6; ++i) {
        image.records.push_back({uint32_t(i * 4096), 4096, "part" + std::to_string(i), false});
    }
    const std::filesystem::path bin = scene.root() / "total.bin";
    WriteTotalImage(bin, image);
    Open();
    fileAnswers = {QString::fromStdString(bin.string())};
    folderAnswers = {QString::fromStdString(scene.targetDir().string())};
    dialog->OnPickBin();
    dialog->OnPickDir();
    bool startAtTheEnd = true;
    bool extractAtTheEnd = true;
    onMessage = [&] {
        startAtTheEnd = c().start->isEnabled();
        extractAtTheEnd = c().extract->isEnabled();
    };
    dialog->OnExtract();
    EXPECT_FALSE(c().start->isEnabled());
    EXPECT_FALSE(c().extract->isEnabled());
    ASSERT_TRUE(
        WaitFor([&] { return !dialog->ExtractionRunning() && c().start->isEnabled(); }, 20000));
    EXPECT_EQ(messages, Lines{"completed.  "});
    EXPECT_FALSE(startAtTheEnd) << "START during the extraction";
    EXPECT_FALSE(extractAtTheEnd);
    EXPECT_TRUE(c().extract->isEnabled());
    EXPECT_TRUE(allMessagesOnGuiThread);
    // The target directory's old index goes first; the records follow in order.
    const Lines lines = LogLines();
    ASSERT_EQ(lines.size(), 7u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0].rfind("Old partition.txt removed", 0), 0u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(lines[i + 1].rfind("part" + std::to_string(i) + " -- 0x", 0), 0u) << lines[i + 1];
    }
    EXPECT_EQ(ReadBytes(scene.targetDir() / "partition.txt").size(), 6u * 80);
}

// The shipped tests against the simulated board: the programmer uploaded, the eMMC read, both
// boxes PASS in green, the board reset at the end.
TEST_F(DialogTest, WholeRunAgainstTheSimulatedBoardPasses) {
    auto board = StartBoard(BoardFor(scene, kDloadModel));
    ASSERT_TRUE(board);
    Open(MakeDeviceTests);
    SetUpApCheck(kBoardPort);
    c().emmcTest->setChecked(true);
    Select(*c().option, "Read only");
    QTest::mouseClick(c().start, Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd(20000));
    EXPECT_EQ(c().apResult->text(), "PASS");
    EXPECT_EQ(c().emmcResult->text(), "PASS");
    EXPECT_EQ(c().sdramResult->text(), "N/T");
    EXPECT_EQ(c().verdict->text(), "PASS");
    EXPECT_TRUE(LogHas("AP CHECK = pass\n"));
    EXPECT_TRUE(LogHas("EMMC TEST = pass\n"));
    EXPECT_EQ(LogLines().end()[-2], "Test Completed !!\n");
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_TRUE(board->WaitUntil([&] { return board->resets() == 1; }, 5000));
}

}  // namespace
}  // namespace veltrix::testing
