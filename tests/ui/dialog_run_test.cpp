// Runs and extractions from the window: the worker's output reaching the window in order, the
// verdict and the record of each ending, STOP and closing during a run (a run's message box open),
// Erase asking first, the extraction off the GUI thread with START held, and one whole run of the
// shipped tests against the simulated board, started with F5, recorded, copied and saved.
#include <QApplication>
#include <QClipboard>
#include <QJsonArray>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <filesystem>
#include <regex>

#include "diag/prepare_run.h"
#include "tests/support/bench_scene.h"
#include "tests/support/scene_board.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/result_colours.h"

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
        call.ctx.Transfer(0, 64 << 20);  // a read under way: its rate and time left
        call.ctx.Wait(600);
        call.ctx.Transfer(32 << 20, 64 << 20);
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
    QString rateWhenShown;
    onMessage = [&] {
        linesWhenShown = static_cast<int>(LogLines().size());
        rateWhenShown = c().rate->text();
    };
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
    EXPECT_TRUE(rateWhenShown.contains(QRegularExpression("^[0-9.]+ MB/s, 0:0[0-9] left$")))
        << rateWhenShown.toStdString();
    EXPECT_EQ(messages.back(), "held");
    EXPECT_TRUE(allMessagesOnGuiThread);
    // The status line ends with the run's verdict, above the run's last status.
    EXPECT_EQ(c().statusLine->item(0)->text(), "PASS");
    EXPECT_EQ(c().statusLine->item(1)->text(), "status 49");
    EXPECT_EQ(c().progress->value(), 98);
    EXPECT_EQ(c().apResult->text(), "PASS");
    EXPECT_EQ(c().runLog->currentRow(), c().runLog->count() - 1) << "the newest line is selected";
}

// Each ending shows its verdict large, filled in a colour its text reads on (4.5:1 at least, as
// on the result boxes: PASS green, FAIL red, N/T in the window's colours), heads the status line
// with it, and leaves the run's record in the records folder, each run a file of its own.
TEST_F(DialogTest, EachEndingShowsItsVerdictAndLeavesItsRecord) {
    const struct {
        const char* verdict;
        int result;
        const char* box;     // the AP box the check sets
        const char* reason;  // the failure it notes
        QColor fill;
    } cases[] = {
        {"PASS", kErrorSuccess, kResultPass, "", QColor(0, 200, 0)},
        {"FAIL: AP", kErrorGenFailure, kResultFail, "", QColor(200, 0, 0)},
        {"ABORTED: board not in download mode", kErrorGenFailure, kResultNotTested,
         "board not in download mode", QColor(255, 191, 0)},
    };
    Open();
    SetUpApCheck(kBoardPort);
    EXPECT_EQ(c().verdict->text(), "");
    const QColor normal = c().apResult->palette().color(QPalette::Base);
    for (const auto& row : cases) {
        SCOPED_TRACE(row.verdict);
        script.Answer("CheckAp", [&](ScriptedCall& call) {
            call.ctx.SetResult(ResultBox::kAp, row.box);
            call.ctx.NoteFailure(row.reason);
            return row.result;
        });
        dialog->OnStart();
        ASSERT_TRUE(WaitForRunEnd());
        const QPalette banner = c().verdict->palette();
        EXPECT_EQ(c().verdict->text(), row.verdict);
        EXPECT_EQ(banner.color(QPalette::Window), row.fill);
        EXPECT_GE(ui::ContrastRatio(banner.color(QPalette::WindowText), row.fill), 4.5);
        EXPECT_EQ(c().statusLine->item(0)->text(), row.verdict);
        const QPalette box = c().apResult->palette();
        EXPECT_EQ(box.color(QPalette::Base),
                  row.box == std::string_view("N/T") ? normal : row.fill);
        EXPECT_GE(ui::ContrastRatio(box.color(QPalette::Text), box.color(QPalette::Base)), 4.5);
        const QJsonObject record = LastRecord();
        EXPECT_EQ(record["verdict"].toString(), row.verdict);
        EXPECT_EQ(record["port"].toString(), "14");
        EXPECT_TRUE(std::regex_match(dialog->lastRunRecord().filename().string(),
                                     std::regex(R"(\d{8}T\d{6}Z_COM14(-\d)?\.json)")));
    }
    const std::filesystem::path records = scene.root() / "data" / "veltrix" / "records";
    EXPECT_EQ(dialog->lastRunRecord().parent_path(), records);
    EXPECT_EQ(ListFolder(records).size(), std::size(cases));
    dialog->OnOpenRunRecords();
    EXPECT_EQ(openedFolder.toStdString(), records.string());
}

// Only STOP or an agreed close ends a run, and a message box the run shows stops neither: Escape
// leaves the run alone; STOP closes the box and cancels the run; closing asks first, a No keeps
// the run going, and a Yes closes the box, cancels the run and closes the window when it has
// ended, without asking again. With no run, Escape closes the window.
TEST_F(DialogTest, StopOrAnAgreedCloseEndsARunThatShowsAMessage) {
    for (const bool byClose : {false, true}) {
        SCOPED_TRACE(byClose ? "close" : "STOP");
        script.Answer("CheckAp", [](ScriptedCall& call) {
            call.ctx.ShowMessage("held");
            return WaitForCancel(call);
        });
        Open();
        dialog->seams().showRunMessage = ui::DefaultDialogSeams().showRunMessage;
        SetUpApCheck(kBoardPort);
        dialog->OnStart();
        const auto box = [&] { return dialog->findChild<QMessageBox*>(); };
        ASSERT_TRUE(WaitFor([&] { return box() && box()->isVisible(); }, 5000));
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        EXPECT_TRUE(dialog->isVisible());
        questions.clear();
        yesNoAnswers = {false, true};
        if (byClose) {
            EXPECT_FALSE(dialog->close());
            EXPECT_TRUE(box()->isVisible()) << "a No keeps the run and its box";
            dialog->close();
        } else {
            QTest::mouseClick(c().stop, Qt::LeftButton);
        }
        ASSERT_TRUE(WaitFor([&] { return !c().verdict->text().isEmpty(); }, 5000));
        EXPECT_FALSE(box() && box()->isVisible());
        EXPECT_EQ(c().verdict->text().toStdString(), "ABORTED: cancelled by the operator");
        EXPECT_TRUE(LogHas("Test cancelled by the operator\n"));
        EXPECT_EQ(dialog->isVisible(), !byClose);
        EXPECT_EQ(questions, Lines(byClose ? 2 : 0, kStopAndClose));
    }
    Open();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible()) << "with no run, Escape closes the window";
}

// Erase clears the whole eMMC whatever partition is chosen, so START asks first; No starts
// nothing and keeps the last run's log. "dump" makes every option a read: no question.
// Erase (the whole eMMC) and the write tests (their pattern stays) ask first, naming what they
// change; No leaves the last run's log as it was.
TEST_F(DialogTest, RunsThatChangeTheFlashAskBeforeTheyStart) {
    const std::string model(kDloadModel);
    const std::string erase = model +
                              ": 전체 eMMC를 지웁니다. 계속하시겠습니까?  \n\nThis erases the "
                              "whole eMMC of " +
                              model + ", not one partition. Continue?  ";
    const std::string pattern = "This writes the test pattern over the first sectors of sbl2 on " +
                                model +
                                "; it stays there until RESTORE BOOT IMG puts their images back. "
                                "Continue?  ";
    const struct {
        const char* option;
        bool dump;
        bool yes;
        std::string question;  // its English sentence; empty: none asked
        bool starts;
    } cases[] = {
        {"Read only", false, false, "", true},      {"Read/Write", false, false, pattern, false},
        {"Write only", false, true, pattern, true}, {"Erase", false, false, erase, false},
        {"Erase", true, false, "", true},  // a dump only reads
        {"Erase", false, true, erase, true},
    };
    for (int i = 0; i < 4; ++i) {
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
        ASSERT_EQ(questions.size(), row.question.empty() ? 0u : 1u);
        if (!row.question.empty()) {
            EXPECT_TRUE(questions[0].ends_with(row.question)) << questions[0];
            EXPECT_TRUE(questions[0].starts_with(model + ": ")) << questions[0];
        }
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

// The shipped tests against the simulated board, started with F5 on the port chosen from the list
// as it opens, marking what is behind each port (a typed port is kept): the programmer uploaded,
// the eMMC read, both boxes PASS, the board reset at the end; the run's record, and the whole log
// copied (Ctrl+A, Ctrl+C) and saved.
TEST_F(DialogTest, WholeRunAgainstTheSimulatedBoardPassesAndIsRecorded) {
    auto board = StartBoard(BoardFor(scene, kDloadModel));
    ASSERT_TRUE(board);
    std::filesystem::create_symlink(scene.root() / "gone", scene.portsFolder() / "COM40");
    Open(MakeDeviceTests);
    SetUpApCheck(kBoardPort);
    c().emmcTest->setChecked(true);
    Select(*c().option, "Read/Write");
    yesNoAnswers = {true};  // the pattern may stay
    c().comPort->setEditText("COM 7");
    c().comPort->showPopup();
    c().comPort->hidePopup();
    EXPECT_EQ(c().comPort->currentText(), "COM 7");
    const QStringList ports = Items(*c().comPort);
    EXPECT_EQ((ports[0] + "|" + ports[39]).toStdString(), "1|40  missing");
    EXPECT_TRUE(ports[13].contains(QRegularExpression("^14  pts/[0-9]+$")))
        << ports[13].toStdString();
    c().comPort->setCurrentIndex(13);
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    QTest::keyClick(dialog.get(), Qt::Key_F5);
    ASSERT_TRUE(WaitForRunEnd(20000));
    EXPECT_EQ(c().apResult->text() + c().emmcResult->text() + c().sdramResult->text(),
              "PASSPASSN/T");
    EXPECT_EQ(c().verdict->text(), "PASS");
    // Under the verdict: where the pattern stays and what puts the images back.
    EXPECT_TRUE(c().advice->isVisible());
    EXPECT_TRUE(c().advice->text().startsWith("the test pattern is in "))
        << c().advice->text().toStdString();
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_TRUE(board->WaitUntil([&] { return board->resets() == 1; }, 5000));

    std::string log;
    for (const std::string& line : LogLines()) {
        log += line;
    }
    const QJsonObject record = LastRecord();
    EXPECT_EQ(record["results"].toObject()["emmc"].toString(), "PASS");
    EXPECT_EQ(record["selections"].toObject()["option"].toString(), "Read/Write");
    EXPECT_FALSE(record["patternLeftIn"].toArray().isEmpty());
    EXPECT_EQ(record["log"].toArray().size(), qsizetype(LogLines().size()));
    c().runLog->setFocus();
    QTest::keyClick(c().runLog, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(c().runLog, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), log);
    fileAnswers = {QString::fromStdString((scene.root() / "run.txt").string())};
    dialog->OnSaveRunLog();
    EXPECT_EQ(ReadBytes(scene.root() / "run.txt"), Bytes(log.begin(), log.end()));
}

}  // namespace
}  // namespace veltrix::testing
