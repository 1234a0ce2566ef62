// Test runs from the window: START's refusals and messages, a run's lines and message boxes
// reaching the window in order from the worker, STOP and closing during a run, the extraction
// off the GUI thread, and one whole run against the simulated board.
#include <QTest>
#include <atomic>
#include <future>

#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "diag/workbench.h"
#include "layout/partition_index.h"
#include "link/serial_link.h"
#include "tests/layout/layout_test_support.h"
#include "tests/support/scripted_steps.h"
#include "tests/ui/dialog_fixture.h"

namespace veltrix::testing {
namespace {

constexpr int kPort = 13;
constexpr const char* kInProgress = "테스트가 진행 중 입니다.  \n\nTest in progress.  ";
constexpr const char* kStopAndClose =
    "테스트를 중지하고 종료하시겠습니까?  \n\nStop the test and close?  ";

class DialogRunTest : public DialogTest {
public:
    // A dialog set up for an AP check of kModel on kPort.
    void OpenForApCheck(RunSteps* steps) {
        OpenDialog(steps);
        const ui::DialogControls& c = dialog->controls();
        Select(*c.model, kModel);
        Select(*c.comPort, QString::number(kPort));
        c.apCheck->setChecked(true);
    }
    bool LogHas(const std::string& line) const {
        const auto lines = LogLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    ScriptedSteps steps;
};

struct RefusalCase {
    const char* name;
    std::function<void(DialogRunTest&)> arrange;
    std::vector<std::string> messages;
};

TEST_F(DialogRunTest, StartShowsTheMessageOfEachRefusal) {
    const std::vector<RefusalCase> cases = {
        {"no port",
         [](DialogRunTest& t) { t.dialog->controls().comPort->setEditText(""); },
         {"COM PORT를 선택해주세요.  \n\nPlease select COM Port.  "}},
        {"port not a number",
         [](DialogRunTest& t) { t.dialog->controls().comPort->setEditText("COM"); },
         {"COM PORT를 선택해주세요.  \n\nPlease select COM Port.  "}},
        {"no model",
         [](DialogRunTest& t) { t.dialog->controls().model->setEditText(""); },
         {"모델명을 선택해주세요.  \n\nPlease select Model Name.  "}},
        {"no test",
         [](DialogRunTest& t) { t.dialog->controls().apCheck->setChecked(false); },
         {"Test를 선택해주세요.  \n\nPlease select Test.  "}},
        {"no rawprogram0.xml",
         [](DialogRunTest& t) { t.steps.Answer("LoadProgramList", -1); },
         {"파티션파일(rawprogram0.xml)을 찾을 수 없습니다.  \n\nThere is no partition "
          "file(rawprogram0.xml).  "}},
        // An index of another folder loaded earlier does not count: the failed load empties it.
        {"no target directory, index loaded earlier",
         [](DialogRunTest& t) {
             t.CloseDialog();
             ui::StoredSettings stored;
             stored.targetDir = "";
             t.OpenDialogWith(stored, &t.steps);
             const ui::DialogControls& c = t.dialog->controls();
             t.Select(*c.model, kModel);
             c.apCheck->setChecked(true);
             ASSERT_EQ(LoadPartitionIndex(t.dialog->bench().index, t.target, *t.dialog), 0);
         },
         {"Please select target directory.  "}},
    };
    for (const RefusalCase& refusal : cases) {
        SCOPED_TRACE(refusal.name);
        OpenForApCheck(&steps);
        refusal.arrange(*this);
        messages.clear();
        dialog->OnStart();
        EXPECT_EQ(messages, refusal.messages);
        EXPECT_FALSE(RunInProgress(dialog->bench()));
        EXPECT_EQ(steps.CallCount("RunApCheck"), 0);
        CloseDialog();
    }
}

// A run never starts with the partitions of another folder than the one chosen.
TEST_F(DialogRunTest, NoPartitionTxtStopsStartEvenAfterAnIndexWasLoadedEarlier) {
    std::filesystem::remove(target / "partition.txt");
    OpenForApCheck(&steps);
    dialog->OnStart();
    EXPECT_EQ(messages, std::vector<std::string>({"partition.txt does not exist. Please extract "
                                                  "the file from the total binary image.  "}));
    EXPECT_FALSE(RunInProgress(dialog->bench()));

    TempDir earlier;
    WriteFile(earlier / "partition.txt", PartitionRecord(8, 2, "sbl2", "sbl2.mbn"));
    ASSERT_EQ(LoadPartitionIndex(dialog->bench().index, earlier.path(), *dialog), 0);
    messages.clear();
    dialog->OnStart();
    EXPECT_EQ(messages, std::vector<std::string>({"partition.txt does not exist. Please extract "
                                                  "the file from the total binary image.  "}));
    EXPECT_FALSE(RunInProgress(dialog->bench()));
    EXPECT_EQ(dialog->bench().index.imagePartitionCount, 0u);
    EXPECT_EQ(steps.CallCount("RunApCheck"), 0);
}

TEST_F(DialogRunTest, StartDuringARunOnlySaysSo) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> inApCheck{false};
    steps.Answer("RunApCheck", [&](Workbench&) -> int64_t {
        inApCheck = true;
        released.wait();
        return 0;
    });
    OpenForApCheck(&steps);
    dialog->OnStart();
    ASSERT_TRUE(WaitFor([&] { return inApCheck.load(); }, 5000));
    EXPECT_TRUE(dialog->controls().stop->isEnabled());

    dialog->OnStart();
    EXPECT_EQ(messages, std::vector<std::string>({kInProgress}));
    EXPECT_EQ(steps.CallCount("RunApCheck"), 1);
    EXPECT_EQ(steps.CallCount("LoadProgramList"), 1) << "the running test's tables stay";

    release.set_value();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_TRUE(WaitFor([&] { return !dialog->controls().stop->isEnabled(); }, 2000));
    EXPECT_TRUE(LogHas("Test Completed !!\n"));
}

// The worker's log lines, status lines, progress and result boxes, and a message box that
// holds it, all arrive on the GUI thread in the order written.
TEST_F(DialogRunTest, WorkerOutputReachesTheWindowInOrder) {
    std::atomic<int> linesWhenShown{-1};
    steps.Answer("RunApCheck", [&](Workbench& bench) -> int64_t {
        for (int i = 0; i < 200; ++i) {
            AppendLog(bench, "line " + std::to_string(i) + "\n");
            bench.view.PushStatus("status " + std::to_string(i));
            bench.view.SetProgress(i / 2);
        }
        bench.view.ShowMessage("held");
        AppendLog(bench, "after the box\n");
        SetResult(bench, ResultBox::kAp, "PASS");
        return 0;
    });
    OpenForApCheck(&steps);
    dialog->seams().showMessage = [&](QWidget*, const QString& text) {
        messages.push_back(text.toStdString());
        allMessagesOnGuiThread &= QThread::currentThread() == qApp->thread();
        linesWhenShown = static_cast<int>(LogLines().size());
    };
    dialog->OnStart();
    ASSERT_TRUE(WaitForRunEnd());

    const auto lines = LogLines();
    ASSERT_GE(lines.size(), 205u);
    EXPECT_EQ(lines[0], std::string("[") + kModel + "]\n");
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(lines[2 + i], "line " + std::to_string(i) + "\n");
    }
    EXPECT_EQ(lines[202], "after the box\n");
    EXPECT_EQ(linesWhenShown.load(), 202) << "the worker waited for the box";
    EXPECT_TRUE(allMessagesOnGuiThread);
    const ui::DialogControls& c = dialog->controls();
    EXPECT_EQ(c.statusLine->item(0)->text(), "status 199");
    EXPECT_EQ(c.progress->value(), 99);
    EXPECT_EQ(c.apResult->text(), "PASS");
    EXPECT_EQ(c.runLog->currentRow(), c.runLog->count() - 1) << "the newest line is selected";
}

TEST_F(DialogRunTest, StopCancelsARunAndTheWindowStaysUsable) {
    // An AP check that waits for a board as long as the run lets it.
    steps.Answer("RunApCheck", [](Workbench& bench) -> int64_t {
        return RunWait(bench, 60000) ? 0 : kErrorOperationAborted;
    });
    OpenForApCheck(&steps);
    dialog->OnStart();
    ASSERT_TRUE(WaitFor([&] { return steps.CallCount("RunApCheck") == 1; }, 5000));
    QTest::mouseClick(dialog->controls().stop, Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd(3000));
    EXPECT_TRUE(LogHas("TEST aborted!!\n"));
    EXPECT_FALSE(PortIsOpen(dialog->bench().link));
    dialog->OnStart();  // a new run can start
    ASSERT_TRUE(WaitForRunEnd(3000));
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible()) << "with no run, Escape closes the window";
    EXPECT_TRUE(questions.empty());
}

// Only STOP or an agreed close ends a run: Escape leaves it alone, and closing asks first.
TEST_F(DialogRunTest, ClosingDuringARunAsksThenCancelsItAndSavesTheSettings) {
    // An AP check that waits for a board as long as the run lets it.
    steps.Answer("RunApCheck", [](Workbench& bench) -> int64_t {
        return RunWait(bench, 60000) ? 0 : kErrorOperationAborted;
    });
    OpenForApCheck(&steps);
    dialog->OnStart();
    ASSERT_TRUE(WaitFor([&] { return steps.CallCount("RunApCheck") == 1; }, 5000));
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    yesNoAnswers = {false};
    EXPECT_FALSE(dialog->close());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(RunInProgress(dialog->bench())) << "neither Escape nor No stops the run";
    EXPECT_TRUE(LogHas(std::string("[") + kModel + "]\n"));
    EXPECT_EQ(questions, std::vector<std::string>({kStopAndClose}));

    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(dialog->close());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_FALSE(RunInProgress(dialog->bench()));
    EXPECT_FALSE(PortIsOpen(dialog->bench().link));
    EXPECT_EQ(questions.size(), 2u);
    CloseDialog();
    EXPECT_EQ(questions.size(), 2u) << "no run, no question";
    QSettings settings(QStringLiteral("Norvane"), QStringLiteral("Veltrix"));
    EXPECT_EQ(settings.value("COMport/port").toInt(), kPort - 1);
}

// Erase clears the whole eMMC whatever partition is chosen, so START asks first; No starts
// nothing and keeps the last run's log. "dump" makes every option a read: no question.
TEST_F(DialogRunTest, EraseAsksBeforeItStarts) {
    const std::string question = std::string(kModel) +
                                 ": 전체 eMMC를 지웁니다. 계속하시겠습니까?  \n\nThis erases the "
                                 "whole eMMC of " +
                                 kModel + ", not one partition. Continue?  ";
    const struct {
        const char* option;
        bool dump;
        bool yes;
        size_t questions;
        const char* emmcCall;  // the call the run makes, or none when nothing starts
    } cases[] = {
        {"Read/Write", false, false, 0, "RunEmmcTest(2)"},
        {"Erase", false, false, 1, nullptr},
        {"Erase", true, false, 0, "RunEmmcTest(1)"},
        {"Erase", false, true, 1, "RunEmmcTest(4)"},
    };
    OpenForApCheck(&steps);
    const ui::DialogControls& c = dialog->controls();
    c.emmcTest->setChecked(true);
    c.partition->setEditText("sbl2");
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(row.option) + (row.dump ? " dump" : ""));
        Select(*c.option, row.option);
        c.dump->setChecked(row.dump);
        questions.clear();
        yesNoAnswers = {row.yes};
        const auto logBefore = LogLines();
        const int emmcCalls = steps.CallCount("RunEmmcTest");
        dialog->OnStart();
        ASSERT_TRUE(WaitForRunEnd());
        EXPECT_EQ(questions, std::vector<std::string>(row.questions, question));
        if (row.emmcCall == nullptr) {
            EXPECT_EQ(steps.CallCount("RunEmmcTest"), emmcCalls);
            EXPECT_EQ(LogLines(), logBefore);
            continue;
        }
        const auto calls = steps.Calls();
        EXPECT_NE(std::find(calls.begin(), calls.end(), row.emmcCall), calls.end());
        EXPECT_EQ(steps.CallCount("RunEmmcTest"), emmcCalls + 1);
        EXPECT_TRUE(LogHas("Test Completed !!\n"));
    }
}

TEST_F(DialogRunTest, ExtractionRunsOffTheGuiThreadInOrder) {
    TestImage image;
    for (int i = 0; i < 6; ++i) {
        image.records.push_back({uint32_t(i * 4096), 4096, "part" + std::to_string(i), false});
    }
    const std::filesystem::path bin = folder / "total.bin";
    WriteTestImage(bin, image);
    OpenDialog();
    fileAnswers = {QString::fromStdString(bin.string())};
    folderAnswers = {QString::fromStdString((folder / "out").string())};
    std::filesystem::create_directories(folder / "out");
    dialog->OnPickBin();
    dialog->OnPickDir();
    dialog->OnExtract();
    EXPECT_FALSE(dialog->controls().extract->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return !dialog->ExtractionRunning(); }, 20000));
    ASSERT_TRUE(WaitFor([&] { return dialog->controls().extract->isEnabled(); }, 2000));

    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(lines[i].rfind("part" + std::to_string(i) + " -- 0x", 0), 0u) << lines[i];
    }
    EXPECT_EQ(messages, std::vector<std::string>({"completed.  "}));
    EXPECT_TRUE(allMessagesOnGuiThread);
    EXPECT_TRUE(std::filesystem::exists(folder / "out" / "partition.txt"));
}

TEST_F(DialogRunTest, ApCheckAgainstTheSimulatedBoardPasses) {
    auto board = StartBoard(kPort);
    ASSERT_TRUE(board);
    OpenForApCheck(nullptr);
    QTest::mouseClick(dialog->controls().start, Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd(20000));
    const ui::DialogControls& c = dialog->controls();
    EXPECT_EQ(c.apResult->text(), "PASS");
    EXPECT_EQ(c.apResult->palette().color(QPalette::Text), QColor(0, 255, 0));
    EXPECT_EQ(c.emmcResult->text(), "N/T");
    EXPECT_EQ(c.sdramResult->text(), "N/T");
    EXPECT_TRUE(LogHas("AP CHECK = pass\n"));
    EXPECT_TRUE(LogHas("Test Completed !!\n"));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(board->WaitUntil([&] { return board->resets() == 1; }, 5000));
}

}  // namespace
}  // namespace veltrix::testing
