// Whole runs through the engine's face: every branch of the sequencer, the worker's passes and
// waits, START's refusals, with the tests on the board scripted and everything the sequencer
// sends itself (open, partition info, close, reset) going to a simulated board at the wire. Run
// logs are compared line by line.

#include <gtest/gtest.h>

#include <new>

#include "diag/model_table.h"
#include "diag/prepare_run.h"
#include "diag/run_worker.h"
#include "tests/support/engine_rig.h"
#include "tests/support/scene_board.h"
#include "tests/support/scripted_tests.h"

namespace veltrix::testing {
namespace {

constexpr const char* kPmicRefused =
    "In the case of Fenrow,Marlo,Mossel and Tibbet, PMIC test is NOT supported";
const Lines kCompleted = {"Test Completed !!\n"};
const Lines kAborted = {"TEST aborted!!\n"};
const Lines kEmmcSection = {"======== EMMC TEST START\n",
                            "total sector size = 0x20000\n",
                            "[emmc test]\n",
                            "EMMC TEST = pass\n",
                            "======== END\n",
                            "\n"};

class EngineTest : public ::testing::Test {
protected:
    EngineTest() {
        for (const char* model : {kSaharaModel, kDloadModel, kDdrModel, "Tibbet (MSM8930)"}) {
            scene.WriteProgramList(model, {"sbl1"});
        }
        scene.WritePartitions({{"sbl1", 64, 8}});
        options.startInProgrammer = true;  // the scripted AP check uploads nothing
    }
    ~EngineTest() override { rig.engine.ShutDown(); }

    // The selections of a run of `model` with these tests ticked besides the AP check.
    enum Ticks : unsigned { kEmmc = 1, kSdram = 2, kPmic = 4, kRestore = 8 };
    RunSelections Select(const std::string& model, unsigned ticks) const {
        RunSelections s = SdramRun(scene, model, (ticks & kEmmc) != 0, "1");
        s.sdramTest = (ticks & kSdram) != 0;
        s.pmicOn = (ticks & kPmic) != 0;
        s.restoreBootImage = (ticks & kRestore) != 0;
        s.option = "Read/Write";
        return s;
    }
    // START on a fresh board whose programmer runs; returns once the run has ended. The record
    // tells what the operator saw: the ending the log shows last and the three boxes.
    void Run(const RunSelections& s) {
        board.reset();
        board = StartBoard(options);
        rig.view.ClearLog();
        ASSERT_EQ(rig.Run(s, kBoardPort), 0);
        RunEnding shown = RunEnding::kNone;
        for (const std::string& line : rig.view.Lines()) {
            shown = line == "Test Completed !!\n" ? RunEnding::kCompleted
                    : line == "TEST aborted!!\n"  ? RunEnding::kAborted
                                                  : shown;
        }
        EXPECT_EQ(rig.record().ending, shown);
        for (ResultBox box : {ResultBox::kAp, ResultBox::kEmmc, ResultBox::kSdram}) {
            EXPECT_EQ(rig.record().Box(box), rig.view.Result(box));
        }
    }
    // The commands the board received, as their first bytes in hex ("1B 23 15 0B").
    std::string Wire() const {
        std::string out;
        for (const Bytes& request : board->RequestJournal()) {
            char text[4];
            std::snprintf(text, sizeof text, "%s%02X", out.empty() ? "" : " ", request[0]);
            out += text;
        }
        return out;
    }
    // The model line and the empty line, `body`, then the elapsed-time line.
    static Lines RunLog(const std::string& model, const Lines& body,
                        const std::string& elapsed = "0 hours 0 minutes 0 seconds") {
        Lines lines = Join({{"[" + model + "]\n", "\n"}, body});
        lines.push_back("Elapsed Time : " + elapsed + "\n");
        return lines;
    }

    BenchScene scene;
    ScriptedTests script;
    EngineRig rig{scene, script.Maker()};
    sim::BoardOptions options = BoardFor(scene, kSaharaModel);
    std::unique_ptr<sim::SimulatedBoard> board;
};

// --- branch 3: the eMMC test, and what follows it ------------------------------------------

TEST_F(EngineTest, PassedEmmcRunLogsEverySectionAndCompletes) {
    Run(Select(kSaharaModel, kEmmc));
    EXPECT_EQ(rig.view.Lines(), RunLog(kSaharaModel, Join({kApSection, kEmmcSection, kCompleted})));
    EXPECT_EQ(script.Calls(), (Lines{"CheckAp(14)", "TestEmmc(2,)"}));
    EXPECT_EQ(Wire(), "01 17 1B 23 15 0B");  // open, partition info, then CLOSE and RESET
    EXPECT_EQ(rig.view.SelectedLine(), static_cast<int>(rig.view.Lines().size()) - 1);
    EXPECT_TRUE(rig.clock.Sleeps().empty());
    EXPECT_TRUE(rig.record().Passed());
}

TEST_F(EngineTest, EmmcFailuresSetTheBoxAndAbortWithoutAWordToTheBoard) {
    const struct {
        const char* name;
        std::function<void()> arrange;
        Lines afterStart;
    } cases[] = {
        {"flash open",
         [this] { options.faults = {{.kind = sim::FaultKind::kWrongCode, .command = 0x1B}}; },
         {"Failed to open partition from EMMC\n"}},
        // A device of exactly 6 sectors cannot be told from a failed exchange.
        {"partition info",
         [this] { options.reportedSectors = 6; },
         {"Failed to get physical partition info\n"}},
        {"test", [this] { script.Answer("TestEmmc", 6); }, {"total sector size = 0x20000\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        options = BoardFor(scene, kSaharaModel);
        options.startInProgrammer = true;
        c.arrange();
        Run(Select(kSaharaModel, kEmmc | kSdram));  // no SDRAM step after an eMMC failure
        EXPECT_EQ(
            rig.view.Lines(),
            RunLog(kSaharaModel,
                   Join({kApSection, {"======== EMMC TEST START\n"}, c.afterStart, kAborted})));
        EXPECT_EQ(rig.view.Result(ResultBox::kEmmc), "FAIL");
        EXPECT_EQ(Wire().find("15"), std::string::npos);  // nothing is sent on abort
        EXPECT_EQ(script.CallCount("SdramTestPhase1"), 0);
    }
}

// The PC running out of memory in the middle of a run ends it as aborted naming the PC, with
// the port closed and the boxes of what was not judged left "N/T"; the next run goes as usual.
TEST_F(EngineTest, OutOfMemoryEndsTheRunAsAbortedNamingThePc) {
    script.Answer("TestEmmc", [](ScriptedCall&) -> int { throw std::bad_alloc(); });
    Run(Select(kSaharaModel, kEmmc));
    EXPECT_EQ(
        rig.view.Lines(),
        RunLog(kSaharaModel, Join({kApSection,
                                   {"======== EMMC TEST START\n", "total sector size = 0x20000\n"},
                                   kAborted})));
    EXPECT_EQ(VerdictOf(rig.record()).text, "ABORTED: the PC ran out of memory");
    EXPECT_EQ(rig.view.Result(ResultBox::kEmmc), "N/T");
    EXPECT_FALSE(rig.engine.InProgress());
    Run(Select(kSaharaModel, kEmmc));
    EXPECT_TRUE(rig.record().Passed());
}

TEST_F(EngineTest, SectorTotalLineShowsTheLow32BitsInLowerCaseHex) {
    options.reportedSectors = 0x800000ABu;  // sign-extended to 64 bits on the host
    Run(Select(kSaharaModel, kEmmc));
    EXPECT_EQ(rig.view.CountLines("total sector size = 0x800000ab\n"), 1);
}

TEST_F(EngineTest, SdramFailuresEndTheRunByTheirCode) {
    const struct {
        const char* name;
        unsigned ticks;
        const char* operation;
        int code;
        const char* emmcBox;
    } cases[] = {
        {"phase 1 after a passed eMMC test", kEmmc | kSdram, "SdramTestPhase1", 29, "PASS"},
        {"phase 2 write", kSdram, "SdramTestPhase2", 29, "FAIL"},
        {"phase 2 read", kSdram, "SdramTestPhase2", 30, "FAIL"},
        {"phase 2 other", kSdram, "SdramTestPhase2", 31, "N/T"},
        {"level test", kSdram, "SdramLevelTest", 30, "FAIL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        script.Answer(c.operation, c.code);
        Run(Select(
            c.code == 30 && std::string(c.operation) == "SdramLevelTest" ? kDdrModel : kDloadModel,
            c.ticks));
        EXPECT_EQ(rig.view.Lines().end()[-2], "TEST aborted!!\n");
        EXPECT_EQ(rig.view.Result(ResultBox::kEmmc), c.emmcBox);
        EXPECT_FALSE(rig.engine.InProgress());
    }
}

// --- the worker's passes ---------------------------------------------------------------------

TEST_F(EngineTest, RetryPassFollowsOnceAndASecondRequestEndsTheRunAsAborted) {
    script.Answer("ReconnectAfterDdrTest", kErrorNotReady);
    Run(Select(kDloadModel, kSdram));
    EXPECT_EQ(rig.clock.Count(1000), 15);  // the DDR wait, counted down on the status line
    EXPECT_EQ(rig.clock.Count(kRetryWaitMs), 1);
    // The retry pass may ask once more (its retry is cleared before it runs).
    EXPECT_EQ(script.Calls().at(3), "ReconnectAfterDdrTest(14,retry)");
    EXPECT_EQ(rig.record().ending, RunEnding::kCompleted);

    script.Answer("ReconnectAfterDdrTest", kErrorNotReady);
    script.Answer("ReconnectAfterDdrTest", kErrorNotReady);  // the retry pass asks again
    Run(Select(kDloadModel, kSdram));
    EXPECT_EQ(rig.view.Lines().end()[-2], "TEST aborted!!\n");
    // A retry used up in an earlier run does not cost the next run its own.
    Run(Select(kDloadModel, kSdram));
    EXPECT_EQ(script.Calls().back(), "SdramTestPhase2()");
}

TEST_F(EngineTest, CancelDuringTheDdrWaitEndsTheRunAsAbortedAtOnce) {
    rig.clock.CueAt(1000, 1, [this] { rig.engine.Cancel(); });
    Run(Select(kDloadModel, kSdram));
    EXPECT_EQ(rig.LinesFrom("Waiting for DDR test....\n", 3),
              (Lines{"Waiting for DDR test....\n", "Test cancelled by the operator\n",
                     "TEST aborted!!\n"}));
    EXPECT_TRUE(rig.record().cancelled);
    EXPECT_EQ(script.CallCount("ReconnectAfterDdrTest"), 0);
}

// --- branches 1, 2 and 4 ---------------------------------------------------------------------

TEST_F(EngineTest, PmicRunCompletesWhateverTheStepSaysButNotOnARefusedModel) {
    script.Answer("PmicControl", 6);
    RunSelections pmic = Select(kSaharaModel, kPmic);
    pmic.targetDir.clear();  // PMIC ON needs no target directory
    Run(pmic);
    EXPECT_EQ(rig.view.Lines(),
              RunLog(kSaharaModel, Join({kApSection,
                                         {"======== PMIC CONTROL START\n", "======== END\n", "\n"},
                                         kCompleted})));
    EXPECT_TRUE(rig.record().pmicFailed);
    EXPECT_FALSE(rig.record().Passed());

    Run(Select("Tibbet (MSM8930)", kPmic));
    EXPECT_EQ(rig.LinesFrom("======== PMIC CONTROL START\n", 3),
              (Lines{"======== PMIC CONTROL START\n", std::string(kPmicRefused) + "\n",
                     "TEST aborted!!\n"}));
    EXPECT_EQ(rig.view.Messages().back(), std::string(kPmicRefused) + ".  ");
    EXPECT_EQ(script.CallCount("PmicControl"), 1);
}

TEST_F(EngineTest, RestoreRunWritesTheChosenLabelOrAbortsOnAFailure) {
    RunSelections restore = Select(kSaharaModel, kRestore);
    restore.restoreLabel = "SBL1";
    Run(restore);
    EXPECT_EQ(rig.Body(), Join({kApSection,
                                {"======== BOOT IMAGE WRITE START\n", "[write boot images]\n",
                                 "Boot images download completed.\n", "======== END\n", "\n"},
                                kCompleted}));
    EXPECT_EQ(script.Calls().back(), "RestoreBootImages(SBL1)");

    script.Answer("RestoreBootImages", 6);
    Run(restore);
    EXPECT_EQ(rig.LinesFrom("======== BOOT IMAGE WRITE START\n", 2),
              (Lines{"======== BOOT IMAGE WRITE START\n", "TEST aborted!!\n"}));
    EXPECT_EQ(rig.view.Result(ResultBox::kEmmc), "N/T");
}

TEST_F(EngineTest, DumpAloneRunsTheApCheckAndAFailedApCheckAborts) {
    RunSelections dump = Select(kSaharaModel, 0);
    dump.apCheck = false;
    dump.dump = true;
    Run(dump);
    EXPECT_EQ(rig.view.Lines(), RunLog(kSaharaModel, Join({kApSection, kCompleted})));

    script.Answer("CheckAp", [](ScriptedCall& call) {
        call.ctx.Log("Serial port open FAILED..\n");
        return kErrorGenFailure;
    });
    Run(dump);
    EXPECT_EQ(rig.view.Lines(),
              RunLog(kSaharaModel, Join({{"Serial port open FAILED..\n"}, kAborted})));
}

// --- START -----------------------------------------------------------------------------------

// A START that does not start says why and leaves the last run's log as it was.
TEST_F(EngineTest, StartRefusesWhatTheDialogRefusesAndSaysWhy) {
    scene.WriteProgramList(kDloadModel, {});
    const std::string noPartition =
        PrepareRunMessage(kPrepareProgramListUnusable, "lists no partition");
    const auto overEmptyList = [](unsigned ticks) {
        return [ticks](RunSelections& s, int&) {
            s.model = kDloadModel;
            s.emmcTest = (ticks & kEmmc) != 0;
            s.restoreBootImage = (ticks & kRestore) != 0;
        };
    };
    const struct {
        const char* name;
        std::function<void(RunSelections&, int&)> change;
        int result;
    } cases[] = {
        // A test over every partition of an empty list would pass without doing anything.
        {"eMMC test over an empty list", overEmptyList(kEmmc), kPrepareProgramListUnusable},
        {"restore of an empty list", overEmptyList(kRestore), kPrepareProgramListUnusable},
        {"no port", [](RunSelections&, int& port) { port = 0; }, kPrepareNoComPort},
        {"no model", [](RunSelections& s, int&) { s.model.clear(); }, kPrepareNoModel},
        {"no test", [](RunSelections& s, int&) { s.apCheck = s.emmcTest = s.sdramTest = false; },
         kPrepareNoTest},
        {"no rawprogram0.xml", [](RunSelections& s, int&) { s.model = "Rusk (MSM8974AC)"; },
         kPrepareNoProgramList},
        {"no partition.txt", [](RunSelections& s, int&) { s.targetDir = "/nonexistent"; },
         kPrepareNoPartitionIndex},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunSelections s = Select(kSaharaModel, kEmmc);
        int port = kBoardPort;
        c.change(s, port);
        rig.view.ClearLog();
        rig.view.InsertLogLine(0, "an earlier run\n");
        EXPECT_EQ(rig.engine.Start(s, port), c.result);
        EXPECT_EQ(rig.record().ending, RunEnding::kRefused);
        if (c.result == kPrepareProgramListUnusable) {
            EXPECT_EQ(rig.view.Messages().back(), noPartition);
        } else if (c.result != kPrepareNoPartitionIndex) {
            EXPECT_EQ(rig.view.Messages().back(), PrepareRunMessage(c.result));
        }
        EXPECT_EQ(rig.view.Lines(), Lines{"an earlier run\n"});
    }
    EXPECT_TRUE(script.Calls().empty());
    // A run that does not walk the list starts on an empty one (a chosen partition).
    RunSelections chosen = Select(kDloadModel, kEmmc);
    chosen.partitionLabel = "sbl1";
    board = StartBoard(options);
    EXPECT_EQ(rig.Run(chosen, kBoardPort), 0);
}

TEST_F(EngineTest, StartDuringARunChangesNothing) {
    board = StartBoard(options);
    rig.view.HoldAtLine("[emmc test]");
    ASSERT_EQ(rig.Start(Select(kSaharaModel, kEmmc), kBoardPort), 0);
    ASSERT_TRUE(rig.view.WaitUntilHeld(std::chrono::seconds(5)));
    EXPECT_EQ(rig.engine.Start(Select(kSaharaModel, kEmmc), kBoardPort), kPrepareRunInProgress);
    EXPECT_EQ(rig.view.Messages().back(), kTestInProgressMessage);
    rig.view.Release();
    ASSERT_TRUE(rig.WaitForEnd());
    EXPECT_EQ(rig.view.CountLines("Test Completed !!\n"), 1);
}

}  // namespace
}  // namespace veltrix::testing
