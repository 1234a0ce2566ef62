// Runs and extractions from the window: the worker's output reaching the panel in order and
// copied or saved as it shows, the verdict and the record of each ending, STOP and closing during
// a run (a run's message box open), a START that does not start leaving the last run alone, the
// DDR wait on the bar, the extraction off the GUI thread in a panel of its own, and whole runs of
// the shipped tests against the simulated board, recorded, with their dumps named.
#include <QApplication>
#include <QClipboard>
#include <QJsonArray>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <filesystem>
#include <iostream>
#include <regex>
#include <sstream>

#include "diag/model_table.h"
#include "diag/prepare_run.h"
#include "tests/support/bench_scene.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/result_colours.h"
#include "ui/window_look.h"

namespace veltrix::testing {
namespace {

constexpr const char* kStopAndClose =
    "테스트를 중지하고 종료하시겠습니까?  \n\nStop the test and close?  ";

// An AP check that holds the run until it is cancelled.
int WaitForCancel(ScriptedCall& call) {
    return call.ctx.Wait(60000) ? kErrorSuccess : kErrorOperationAborted;
}

// An AP check that fails with `reason` (an aborted run, amber) after a line in the log.
ScriptedTests::Action Aborts(const std::string& reason) {
    return [reason](ScriptedCall& call) {
        call.ctx.Log("a line of the aborted run\n");
        call.ctx.NoteFailure(reason);
        return kErrorGenFailure;
    };
}

// The worker's log lines, status lines, progress and result boxes, and a message box that holds
// it, all arrive on the GUI thread in the order written; the dialog reads the port and the model
// from its lists, and a text that is no port is refused. The newest line stays in view, whole and
// not selected. Copy and Save give the lines as they show, those written without a line feed
// (the PMIC status) each on a line of its own; Save offers the port and the run's time as name.
TEST_F(DialogTest, WorkerOutputReachesThePanelInOrderAndIsCopiedAsShown) {
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
        call.ctx.Log("LPASS=159");
        call.ctx.Log("PMIC set on");
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
        rateWhenShown = p().rate->text();
    };
    dialog->OnStart();
    EXPECT_TRUE(c().stop->isEnabled());
    ASSERT_TRUE(WaitForRunEnd());

    EXPECT_EQ(script.Calls(), Lines{"CheckAp(" + std::to_string(kBoardPort) + ")"});
    const Lines lines = LogLines();
    ASSERT_GE(lines.size(), 56u);
    EXPECT_EQ(lines[0], std::string("[") + kDloadModel + "]");
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(lines[2 + i], "line " + std::to_string(i));
    }
    EXPECT_EQ(Lines(lines.begin() + 52, lines.begin() + 55),
              (Lines{"LPASS=159", "PMIC set on", "after the box"}));
    EXPECT_EQ(linesWhenShown, 52) << "the worker waited for the box";
    EXPECT_TRUE(rateWhenShown.contains(QRegularExpression("^[0-9.]+ MB/s, 0:0[0-9] left$")))
        << rateWhenShown.toStdString();
    EXPECT_EQ(messages.back(), "held");
    EXPECT_TRUE(allMessagesOnGuiThread);
    // The status line ends with the run's verdict, above the run's last status.
    EXPECT_EQ(p().statusLine->item(0)->text(), "PASS");
    EXPECT_EQ(p().statusLine->item(1)->text(), "status 49");
    EXPECT_EQ(p().progress->value(), 98);
    EXPECT_EQ(p().apResult->text(), "PASS");
    EXPECT_FALSE(p().runLog->textCursor().hasSelection()) << "no line is kept selected";
    EXPECT_TRUE(NewestLineShowsWhole());

    std::string shown;
    for (const std::string& line : lines) {
        shown += line + "\n";
    }
    p().runLog->setFocus();
    QTest::keyClick(p().runLog, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(p().runLog, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString() + "\n", shown);
    fileAnswers = {QString::fromStdString((scene.root() / "run.txt").string())};
    dialog->OnSaveRunLog();
    EXPECT_EQ(ReadBytes(scene.root() / "run.txt"), Bytes(shown.begin(), shown.end()));
    ASSERT_EQ(suggestedNames.size(), 1u);
    EXPECT_TRUE(std::regex_match(suggestedNames[0], std::regex(R"(run-COM14-\d{8}-\d{4}\.txt)")))
        << suggestedNames[0];
}

// Each ending shows its verdict large, filled in a colour its text reads on (4.5:1 at least, as
// on the result boxes: PASS green, FAIL red, N/T in the window's colours), heads the status line
// with it, and leaves the run's record in the records folder, each run a file of its own. The
// AP check's advice on a port with nothing behind it is in the window's terms, banner and log.
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
    EXPECT_EQ(p().verdict->text(), "");
    const QColor normal = p().apResult->palette().color(QPalette::Base);
    for (const auto& row : cases) {
        SCOPED_TRACE(row.verdict);
        script.Answer("CheckAp", [&](ScriptedCall& call) {
            call.ctx.SetResult(ResultBox::kAp, row.box);
            call.ctx.NoteFailure(row.reason);
            return row.result;
        });
        dialog->OnStart();
        ASSERT_TRUE(WaitForRunEnd());
        const QPalette banner = p().banner->palette();
        EXPECT_EQ(p().verdict->text(), row.verdict);
        EXPECT_EQ(banner.color(QPalette::Window), row.fill);
        EXPECT_GE(ui::ContrastRatio(banner.color(QPalette::WindowText), row.fill), 4.5);
        EXPECT_EQ(p().statusLine->item(0)->text(), row.verdict);
        const QPalette box = p().apResult->palette();
        EXPECT_EQ(box.color(QPalette::Base),
                  row.box == std::string_view("N/T") ? normal : row.fill);
        EXPECT_GE(ui::ContrastRatio(box.color(QPalette::Text), box.color(QPalette::Base)), 4.5);
        const QJsonObject record = LastRecord();
        EXPECT_EQ(record["verdict"].toString(), row.verdict);
        EXPECT_EQ(record["port"].toString(), "14");
        EXPECT_TRUE(std::regex_match(dialog->lastRunRecord().filename().string(),
                                     std::regex(R"(\d{8}T\d{6}Z_COM14(-\d)?\.json)")));
    }
    const std::filesystem::path records = DataFolder() / "veltrix" / "records";
    EXPECT_EQ(dialog->lastRunRecord().parent_path(), records);
    EXPECT_EQ(ListFolder(records).size(), std::size(cases));
    dialog->OnOpenRunRecords();
    EXPECT_EQ(PathFromUtf8(openedFolder.toStdString()), records) << openedFolder.toStdString();

    // The shipped AP check on a port with nothing behind it: its diagnostics go to the panel's
    // console log, not to the terminal the window was started from.
    Open(MakeDeviceTests);
    SetUpApCheck(kBoardPort + 1);
    std::ostringstream terminal;
    std::streambuf* const saved = std::cout.rdbuf(terminal.rdbuf());
    dialog->OnStart();
    const bool ended = WaitForRunEnd();
    std::cout.rdbuf(saved);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(p().verdict->text().startsWith("ABORTED: ")) << p().verdict->text().toStdString();
    EXPECT_FALSE(p().advice->text().isEmpty());
    EXPECT_FALSE(p().advice->text().contains("veltrix-cli")) << p().advice->text().toStdString();
    EXPECT_FALSE(p().runLog->toPlainText().contains("veltrix-cli"));
    EXPECT_TRUE(LastRecord()["log"].toVariant().toStringList().join("").contains("veltrix-cli"))
        << "the record keeps the engine's words";
    EXPECT_EQ(terminal.str(), "");
    const Bytes bytes = ReadBytes(DataFolder() / "veltrix/logs/console.log");
    const std::string console(bytes.begin(), bytes.end());
    EXPECT_NE(console.find("---- START on COM15, Tamsin (APQ8064)\n"), std::string::npos)
        << console;
    EXPECT_TRUE(std::regex_search(console, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ \S)")));
}

// Only STOP or an agreed close ends a run, and a message box the run shows stops neither: Escape
// leaves the run alone; STOP closes the box and cancels the run; closing asks first, a No keeps
// the run going, and a Yes closes the box, cancels the run and closes the window when it has
// ended, without asking again. With no run Escape still leaves the window (and its log) alone;
// the close button closes it.
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
        ASSERT_TRUE(WaitFor([&] { return !p().verdict->text().isEmpty(); }, 5000));
        EXPECT_FALSE(box() && box()->isVisible());
        EXPECT_EQ(p().verdict->text().toStdString(), "ABORTED: cancelled by the operator");
        EXPECT_TRUE(LogHas("Test cancelled by the operator"));
        EXPECT_EQ(dialog->isVisible(), !byClose);
        EXPECT_EQ(questions, Lines(byClose ? 2 : 0, kStopAndClose));
    }
    Open();
    const Lines log = LogLines();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    QTest::keyClick(c().model, Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible()) << "Escape with no run";
    EXPECT_EQ(LogLines(), log);
    EXPECT_TRUE(dialog->close());
    EXPECT_FALSE(dialog->isVisible());
}

// A START that does not start leaves the last run's log, boxes and banner exactly as they were:
// nothing ticked, or No to a question. Erase (the whole eMMC) and the write tests (their pattern
// stays) ask first, naming what they change; "dump" makes every option a read: no question.
TEST_F(DialogTest, AStartThatDoesNotStartLeavesTheLastRunAsItWas) {
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
        const char* option;  // none: no test ticked
        bool dump;
        bool yes;
        std::string question;  // its English sentence; empty: none asked
        bool starts;
    } cases[] = {
        {nullptr, false, true, "", false},
        {"Read only", false, false, "", true},
        {"Read/Write", false, false, pattern, false},
        {"Write only", false, true, pattern, true},
        {"Erase", false, false, erase, false},
        {"Erase", true, false, "", true},
        {"Erase", false, true, erase, true},
    };
    Open();
    SetUpApCheck(kBoardPort);
    c().partition->setEditText("sbl2");
    const auto shown = [&] {
        return std::make_tuple(LogLines(), p().verdict->text(), p().advice->text(),
                               p().banner->palette().color(QPalette::Window),
                               p().apResult->text() + p().emmcResult->text(),
                               p().apResult->palette().color(QPalette::Base));
    };
    // The last run before each START failed its AP check, so there is something to keep; the
    // START under test then ends at the closed port.
    bool before = true;
    for (size_t i = 0; i < 2 * std::size(cases); ++i) {
        script.Answer("CheckAp", [&before](ScriptedCall& call) {
            if (!before) {
                return kErrorSuccess;
            }
            call.ctx.Log("the run before\n");
            call.ctx.SetResult(ResultBox::kAp, kResultFail);
            return kErrorGenFailure;
        });
    }
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(row.option ? row.option : "nothing") + (row.dump ? " dump" : ""));
        before = true;
        c().apCheck->setChecked(true);
        c().emmcTest->setChecked(false);
        questions.clear();
        dialog->OnStart();
        ASSERT_TRUE(WaitForRunEnd());
        ASSERT_EQ(p().verdict->text(), "FAIL: AP");
        before = false;
        c().apCheck->setChecked(row.option != nullptr);
        c().emmcTest->setChecked(row.option != nullptr);
        if (row.option) {
            Select(*c().option, row.option);
        }
        c().dump->setChecked(row.dump);
        yesNoAnswers = {row.yes};
        messages.clear();
        const auto kept = shown();
        const int checks = script.CallCount("CheckAp");
        dialog->OnStart();
        ASSERT_TRUE(WaitForRunEnd());
        ASSERT_EQ(questions.size(), row.question.empty() ? 0u : 1u);
        if (!row.question.empty()) {
            EXPECT_TRUE(questions[0].ends_with(row.question)) << questions[0];
            EXPECT_TRUE(questions[0].starts_with(model + ": ")) << questions[0];
        }
        EXPECT_EQ(messages.size(), row.option ? 0u : 1u) << "Please select Test.";
        EXPECT_EQ(script.CallCount("CheckAp"), checks + (row.starts ? 1 : 0));
        if (!row.starts) {
            EXPECT_TRUE(shown() == kept) << "the last run's log, banner and boxes";
        } else {
            EXPECT_FALSE(LogHas("the run before"));
        }
    }
}

// The extraction runs off the GUI thread, its lines in order, in a panel of its own: the last
// run's log, banner, boxes and amber bar give way to it. While it rewrites the folder neither
// START nor Extract can be pressed, and both come back when it has ended; an extraction into the
// target directory refills the partition lists.
TEST_F(DialogTest, ExtractionRunsOffTheGuiThreadInAPanelOfItsOwn) {
    TotalImage image;
    for (int i = 0; i < 6; ++i) {
        image.records.push_back({uint32_t(i * 4096), 4096, "part" + std::to_string(i), false});
    }
    const std::filesystem::path bin = scene.root() / "total.bin";
    WriteTotalImage(bin, image);
    script.Answer("CheckAp", Aborts("board not in download mode"));
    Open();
    SetUpApCheck(kBoardPort);
    dialog->OnStart();
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_TRUE(p().verdict->text().startsWith("ABORTED"));
    const QPalette normalBar =
        ui::ProgressPalette(p().progress->palette(), ui::kFocusRingColour, Qt::white);
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
    EXPECT_EQ(p().verdict->text(), "");
    EXPECT_EQ(p().banner->palette().color(QPalette::Window),
              dialog->palette().color(QPalette::Window));
    EXPECT_EQ(p().apResult->text(), "N/T");
    EXPECT_EQ(p().progress->palette().color(QPalette::Highlight),
              normalBar.color(QPalette::Highlight));
    ASSERT_TRUE(
        WaitFor([&] { return !dialog->ExtractionRunning() && c().start->isEnabled(); }, 20000));
    EXPECT_EQ(messages, Lines{"completed.  "});
    EXPECT_FALSE(startAtTheEnd) << "START during the extraction";
    EXPECT_FALSE(extractAtTheEnd);
    EXPECT_TRUE(c().extract->isEnabled());
    EXPECT_TRUE(allMessagesOnGuiThread);
    // The target directory's old index goes first; the records follow in order, and nothing of
    // the run before.
    const Lines lines = LogLines();
    ASSERT_EQ(lines.size(), 7u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0].rfind("Old partition.txt removed", 0), 0u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(lines[i + 1].rfind("part" + std::to_string(i) + " -- 0x", 0), 0u) << lines[i + 1];
    }
    EXPECT_EQ(ReadBytes(scene.targetDir() / "partition.txt").size(), 6u * 80);
    EXPECT_EQ(Items(*c().restorePartition).size(), 6);
}

}  // namespace
}  // namespace veltrix::testing
