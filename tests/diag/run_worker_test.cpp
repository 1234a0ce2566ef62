// The worker across its passes: DDR wait, retry pass, the pass that ends with no ending, the
// elapsed-time line, and START while a worker is still finishing.

#include "diag/run_worker.h"

#include <gmock/gmock.h>

#include <chrono>

#include "tests/diag/run_fixture.h"

namespace veltrix::testing {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

// The real AP check during a DDR wait when the board never takes the upload: the first failure
// asks for the retry pass, the next one is a plain failure.
int64_t UploadFailsDuringDdrWait(Workbench& b) {
    if (b.state.ddrWaiting && !b.apRetried) {
        b.apRetried = true;
        return 21;
    }
    AppendLog(b, "Failed during loading flash programmer\n");
    return 31;
}

class WorkerTest : public RunFixture {
protected:
    RunSelections TwoPhase() {
        RunSelections s = Select("Corvin (MSM8974)");
        s.sdramTest = true;
        return s;
    }
};

TEST_F(WorkerTest, RetryPassFollowsAfterThreeSecondsWithApRetriedCleared) {
    steps.Answer("RunApCheck", 0);                         // pass 1
    steps.Answer("RunApCheck", UploadFailsDuringDdrWait);  // pass 2: 21
    bool clearedForPass3 = false;
    steps.Answer("RunApCheck", [&](Workbench& b) -> int64_t {
        clearedForPass3 = !b.apRetried;
        return 0;
    });
    Run(TwoPhase());

    EXPECT_EQ(view.Lines(),
              RunLog("Corvin (MSM8974)",
                     {"[sdram phase 1]\n", "Device Reset!!\n", "Waiting for DDR test....\n",
                      "[sdram phase 2]\n", "Test Completed !!\n"},
                     "0 hours 0 minutes 18 seconds"));
    EXPECT_THAT(clock.Sleeps(), ElementsAre(15000u, 3000u));
    EXPECT_TRUE(clearedForPass3);
    EXPECT_EQ(steps.CallCount("RunApCheck"), 3);
    EXPECT_EQ(steps.CallCount("OpenPartition"), 2);  // pass 2 stopped before the flash
}

TEST_F(WorkerTest, PassThreeAskingForAnotherRetryEndsAsAnAbort) {
    steps.Answer("RunApCheck", 0);
    steps.SetDefault("RunApCheck", UploadFailsDuringDdrWait);  // 21 in pass 2 and in pass 3
    Run(TwoPhase());

    EXPECT_EQ(view.Lines(), RunLog("Corvin (MSM8974)",
                                   {"[sdram phase 1]\n", "Device Reset!!\n",
                                    "Waiting for DDR test....\n", "TEST aborted!!\n"},
                                   "0 hours 0 minutes 18 seconds"));
    EXPECT_EQ(steps.CallCount("RunApCheck"), 3);
    EXPECT_EQ(steps.Calls().back(), "ClosePort");
    EXPECT_FALSE(bench.state.running);
    EXPECT_FALSE(bench.state.ddrWaiting);
    EXPECT_EQ(bench.state.programList.count, 0);
}

TEST_F(WorkerTest, ARetryLeftOverFromAnEarlierRunDoesNotCostTheNextRunItsRetry) {
    steps.Answer("RunApCheck", 0);
    steps.SetDefault("RunApCheck", UploadFailsDuringDdrWait);
    Run(TwoPhase());
    ASSERT_TRUE(bench.apRetried);  // pass 3 asked again

    steps.Answer("RunApCheck", 0);
    steps.Answer("RunApCheck", UploadFailsDuringDdrWait);
    steps.Answer("RunApCheck", 0);
    Run(TwoPhase());
    EXPECT_EQ(view.CountLines("Test Completed !!\n"), 1);
    EXPECT_EQ(view.CountLines("Failed during loading flash programmer\n"), 0);
}

TEST_F(WorkerTest, PassOneEndingWithNoEndingIsAbortedByTheWorker) {
    steps.Answer("RunApCheck", 21);  // no DDR wait, so no retry pass follows
    Run(TwoPhase());
    EXPECT_EQ(view.Lines(), RunLog("Corvin (MSM8974)", {"TEST aborted!!\n"}));
    EXPECT_FALSE(bench.state.running);
}

TEST_F(WorkerTest, ElapsedTimeLineCountsTheRunsSecondsWithoutWholeDays) {
    steps.Answer("RunApCheck", [this](Workbench&) -> int64_t {
        clock.Advance(90061);  // one day, one hour, one minute, one second
        return 0;
    });
    Run(Select("Corvin (MSM8974)"));
    EXPECT_EQ(view.Lines().back(), "Elapsed Time : 1 hours 1 minutes 1 seconds\n");
}

TEST(ElapsedTimeLineTest, FollowsTheHoursMinutesSecondsFormula) {
    struct Case {
        int64_t seconds;
        const char* line;
    };
    const Case cases[] = {
        {0, "Elapsed Time : 0 hours 0 minutes 0 seconds\n"},
        {59, "Elapsed Time : 0 hours 0 minutes 59 seconds\n"},
        {3599, "Elapsed Time : 0 hours 59 minutes 59 seconds\n"},
        {86399, "Elapsed Time : 23 hours 59 minutes 59 seconds\n"},
        {86400, "Elapsed Time : 0 hours 0 minutes 0 seconds\n"},
        {90061, "Elapsed Time : 1 hours 1 minutes 1 seconds\n"},
        // A clock set back during the run: the formula's rounding down keeps every field in range.
        {-1, "Elapsed Time : 23 hours 59 minutes 59 seconds\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ElapsedTimeLine(c.seconds), c.line) << c.seconds;
    }
}

TEST_F(WorkerTest, RunningIsSetBeforeTheWorkersFirstLine) {
    PrepareRun(bench, Select("Corvin (MSM8974)"), kPort);
    view.HoldAtLine("[");
    ASSERT_EQ(StartRun(bench), 0);
    ASSERT_TRUE(view.WaitUntilHeld(5s));
    EXPECT_TRUE(bench.state.running);
    EXPECT_EQ(StartRun(bench), kErrorBusy);
    view.Release();
    JoinWorker(bench);
    EXPECT_EQ(view.CountLines("Test Completed !!\n"), 1);
}

TEST_F(WorkerTest, StartDuringTheWorkersTailWaitsForItsLastStep) {
    RunSelections first = Select("Corvin (MSM8974)");
    ASSERT_EQ(PrepareRun(bench, first, kPort), kPrepareReady);
    view.HoldAtLine("Elapsed Time");
    ASSERT_EQ(StartRun(bench), 0);
    ASSERT_TRUE(view.WaitUntilHeld(5s));

    // The run has ended, but its worker still has to write its last line and empty its list.
    EXPECT_FALSE(bench.state.running);
    ASSERT_TRUE(RunInProgress(bench));
    RunSelections second = Select("Tamsin (APQ8064)");
    EXPECT_EQ(PrepareRun(bench, second, kPort), kPrepareRunInProgress);
    EXPECT_EQ(PrepareRunMessage(kPrepareRunInProgress), kTestInProgressMessage);
    EXPECT_EQ(StartRun(bench), kErrorBusy);
    EXPECT_EQ(bench.state.model, "Corvin (MSM8974)");  // nothing of the new run was stored
    EXPECT_EQ(bench.state.programList.count, 1);

    view.Release();
    JoinWorker(bench);
    EXPECT_FALSE(RunInProgress(bench));
    EXPECT_EQ(bench.state.programList.count, 0);

    // Now the second run prepares and runs on its own list and its own log.
    view.ClearLog();
    ResetRunDisplay(bench);
    ASSERT_EQ(PrepareRun(bench, second, kPort), kPrepareReady);
    EXPECT_EQ(bench.state.programList.count, 1);
    ASSERT_EQ(StartRun(bench), 0);
    JoinWorker(bench);
    EXPECT_EQ(view.Lines(),
              RunLog("Tamsin (APQ8064)", Concat({kApSection, {"Test Completed !!\n"}})));
}

TEST_F(WorkerTest, CancelDuringTheDdrWaitEndsTheRunAsAborted) {
    clock.onSleep = [this] { CancelRun(bench); };  // the operator presses Cancel meanwhile
    Run(TwoPhase());
    EXPECT_EQ(view.Lines(),
              RunLog("Corvin (MSM8974)",
                     Concat({kApSection,
                             {"[sdram phase 1]\n", "Device Reset!!\n", "Waiting for DDR test....\n",
                              "Test cancelled by the operator\n", "TEST aborted!!\n"}}),
                     "0 hours 0 minutes 15 seconds"));
    EXPECT_EQ(bench.state.record.ending, RunEnding::kAborted);
    EXPECT_TRUE(bench.state.record.cancelled);
    EXPECT_FALSE(bench.state.ddrWaiting);
    EXPECT_EQ(steps.CallCount("RunApCheck"), 1);  // no second pass
    EXPECT_TRUE(view.Messages().empty());

    // The next run starts afresh: the cancel was for the last run only.
    clock.onSleep = nullptr;
    Run(Select("Corvin (MSM8974)"));
    EXPECT_EQ(bench.state.record.ending, RunEnding::kCompleted);
    EXPECT_FALSE(bench.state.record.cancelled);
}

TEST_F(WorkerTest, RefusedSelectionsAreRecordedAsRefused) {
    Run(Select("Corvin (MSM8974)"));
    RunSelections none = Select("Corvin (MSM8974)");
    none.apCheck = false;
    none.targetDir.clear();
    EXPECT_EQ(PrepareRun(bench, none, kPort), kPrepareNoTest);
    EXPECT_EQ(bench.state.record.ending, RunEnding::kRefused);
    EXPECT_EQ(bench.state.record.Box(ResultBox::kAp), kResultNotTested);  // the last run's gone
}

TEST_F(WorkerTest, LiveLineIsReplacedInPlaceUntilKept) {
    AppendLog(bench, "first\n");
    ReplaceLiveLogLine(bench, "Elapsed time for DDR test : 0min\n");
    ReplaceLiveLogLine(bench, "Elapsed time for DDR test : 1min\n");
    EXPECT_EQ(view.SelectedLine(), 1);
    KeepLiveLogLine(bench);
    AppendLog(bench, "next\n");
    EXPECT_THAT(view.Lines(),
                ElementsAre("first\n", "Elapsed time for DDR test : 1min\n", "next\n"));
    EXPECT_EQ(bench.state.logLineCount, 3);
    EXPECT_EQ(view.SelectedLine(), 2);
}

}  // namespace
}  // namespace veltrix::testing
