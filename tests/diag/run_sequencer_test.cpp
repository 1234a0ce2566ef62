// Whole runs on a real worker thread: each branch of the sequencer and each ending, with the run
// log compared line by line.

#include "diag/run_sequencer.h"

#include <gmock/gmock.h>

#include "diag/run_endings.h"
#include "tests/diag/run_fixture.h"

namespace veltrix::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const Lines kCompleted = {"Test Completed !!\n"};
const Lines kAborted = {"TEST aborted!!\n"};
const Lines kEmmcSection = {"======== EMMC TEST START\n",
                            "total sector size = 0x1d5a000\n",
                            "[emmc test]\n",
                            "EMMC TEST = pass\n",
                            "======== END\n",
                            "\n"};
const Lines kCompleteRunCalls = {"Transact(15)", "Transact(0B)", "ClosePort"};

class SequencerTest : public RunFixture {};

// --- eMMC test -----------------------------------------------------------------------------

TEST_F(SequencerTest, PassedEmmcOnlyRunLogsEverySectionAndCompletes) {
    Run(Select("Corvin (MSM8974)", kEmmc));

    EXPECT_EQ(view.Lines(),
              RunLog("Corvin (MSM8974)", Concat({kApSection, kEmmcSection, kCompleted})));
    EXPECT_EQ(
        steps.Calls(),
        Concat({{"LoadProgramList(/bench/work/model/Corvin (MSM8974)/boot_partition_info/"
                 "rawprogram0.xml)",
                 "RunApCheck(5)", "OpenPartition", "GetPhysicalPartitionInfo", "RunEmmcTest(2)"},
                kCompleteRunCalls}));
    EXPECT_EQ(view.Result(ResultBox::kEmmc), "PASS");
    EXPECT_EQ(view.SelectedLine(), static_cast<int>(view.Lines().size()) - 1);
    EXPECT_EQ(bench.state.programList.count, 0);
    EXPECT_FALSE(bench.state.running);
    EXPECT_THAT(clock.Sleeps(), IsEmpty());
}

TEST_F(SequencerTest, SectorTotalLineShowsTheLow32BitsInLowerCaseHex) {
    steps.Answer("GetPhysicalPartitionInfo", int64_t{0x7'0000'00ABLL});
    Run(Select("Corvin (MSM8974)", kEmmc));
    EXPECT_EQ(view.CountLines("total sector size = 0xab\n"), 1);
    EXPECT_EQ(bench.state.totalSectors, 0x7'0000'00ABLL);
}

struct EmmcFailure {
    const char* name;
    const char* operation;
    int64_t answer;
    Lines linesAfterStart;  // after "======== EMMC TEST START\n"
};
// Test names stay the same from build to build: a case prints as its name.
void PrintTo(const EmmcFailure& f, std::ostream* os) {
    *os << f.name;
}

class EmmcFailureTest : public RunFixture, public ::testing::WithParamInterface<EmmcFailure> {};

TEST_P(EmmcFailureTest, SetsEmmcFailAndAborts) {
    const EmmcFailure& f = GetParam();
    steps.Answer(f.operation, f.answer);
    // an eMMC failure ends the run before any SDRAM step
    Run(Select("Corvin (MSM8974)", kEmmc | kSdram));

    EXPECT_EQ(
        view.Lines(),
        RunLog("Corvin (MSM8974)",
               Concat({kApSection, {"======== EMMC TEST START\n"}, f.linesAfterStart, kAborted})));
    EXPECT_EQ(view.Result(ResultBox::kEmmc), "FAIL");
    EXPECT_EQ(steps.CallCount("RunSdramImageTest"), 0);
    EXPECT_EQ(steps.CallCount("Transact"), 0);  // nothing is sent to the board on abort
    EXPECT_EQ(steps.Calls().back(), "ClosePort");
    EXPECT_FALSE(bench.state.running);
}

INSTANTIATE_TEST_SUITE_P(
    Branch3, EmmcFailureTest,
    ::testing::Values(
        EmmcFailure{"FlashOpen", "OpenPartition", 6, {"Failed to open partition from EMMC\n"}},
        // A device of exactly 6 sectors cannot be told from the failed exchange.
        EmmcFailure{"PartitionInfo",
                    "GetPhysicalPartitionInfo",
                    6,
                    {"Failed to get physical partition info\n"}},
        EmmcFailure{"EmmcTest", "RunEmmcTest", 31, {"total sector size = 0x1d5a000\n"}}),
    [](const auto& info) { return info.param.name; });

TEST_F(SequencerTest, FailedApCheckAbortsWithoutAnySectionOfItsOwn) {
    steps.Answer("RunApCheck", Logging("Serial port open FAILED..\n", 31));
    Run(Select("Corvin (MSM8974)", kEmmc));
    EXPECT_EQ(view.Lines(),
              RunLog("Corvin (MSM8974)", Concat({{"Serial port open FAILED..\n"}, kAborted})));
    EXPECT_EQ(view.Result(ResultBox::kEmmc), "N/T");
}

// --- eMMC test followed by the SDRAM test ---------------------------------------------------

TEST_F(SequencerTest, DdrImageModelRunsLevelTestInTheSamePassAndCompletesOnce) {
    Run(Select("Hadley Loxley (MSM8226)", kEmmc | kSdram));

    EXPECT_EQ(view.Lines(), RunLog("Hadley Loxley (MSM8226)",
                                   Concat({kApSection,
                                           kEmmcSection,
                                           {"[ddr ap check]\n", "[sdram level test]\n"},
                                           kCompleted}),
                                   "0 hours 0 minutes 3 seconds"));
    EXPECT_EQ(view.CountLines("Test Completed !!\n"), 1);
    const Lines calls = steps.Calls();
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(Lines(calls.begin() + 5, calls.end()),
              Concat({{"ClosePartition", "ResetTarget", "ClosePort", "RunDdrApCheck(5)",
                       "RunSdramLevelTest(5)"},
                      kCompleteRunCalls}));
    EXPECT_THAT(clock.Sleeps(), ElementsAre(3000u));
}

TEST_F(SequencerTest, TwoPhaseHandOverCollectsTheVerdictInPassTwoWithoutRepeatingEmmc) {
    Run(Select("Corvin (MSM8974)", kEmmc | kSdram));

    EXPECT_EQ(view.Lines(),
              RunLog("Corvin (MSM8974)",
                     Concat({kApSection,
                             kEmmcSection,
                             {"[sdram phase 1]\n", "Device Reset!!\n", "Waiting for DDR test....\n",
                              "Connected to flash programmer\n", "[sdram phase 2]\n"},
                             kCompleted}),
                     "0 hours 0 minutes 15 seconds"));
    EXPECT_EQ(steps.CallCount("RunEmmcTest"), 1);
    EXPECT_EQ(steps.CallCount("RunApCheck"), 2);  // phase 1 needs no second AP check
    EXPECT_THAT(clock.Sleeps(), ElementsAre(15000u));
    EXPECT_EQ(view.Result(ResultBox::kEmmc), "PASS");
    EXPECT_EQ(view.Result(ResultBox::kSdram), "PASS");
    EXPECT_FALSE(bench.state.ddrWaiting);
}

TEST_F(SequencerTest, PhaseOneFailureAfterEmmcPassKeepsEmmcPass) {
    steps.Answer("RunSdramImageTest", 29);
    Run(Select("Corvin (MSM8974)", kEmmc | kSdram));
    EXPECT_EQ(view.Lines(),
              RunLog("Corvin (MSM8974)", Concat({kApSection, kEmmcSection, kAborted})));
    EXPECT_EQ(view.Result(ResultBox::kEmmc), "PASS");
}

struct PhaseTwoFailure {
    int code;
    const char* emmcBox;
};
void PrintTo(const PhaseTwoFailure& f, std::ostream* os) {
    *os << "code " << f.code;
}

class PhaseTwoFailureTest : public RunFixture,
                            public ::testing::WithParamInterface<PhaseTwoFailure> {};

TEST_P(PhaseTwoFailureTest, AbortsAndClearsTheRunFlags) {
    steps.Answer("RunSdramImageTest", [](Workbench& b) -> int64_t {
        b.state.ddrWaiting = true;
        return 0;
    });
    steps.Answer("RunSdramImageTest", GetParam().code);
    Run(Select("Corvin (MSM8974)", kEmmc | kSdram));

    const Lines lines = view.Lines();
    EXPECT_EQ(Lines(lines.end() - 4, lines.end() - 1),
              (Lines{"Waiting for DDR test....\n", "Connected to flash programmer\n",
                     "TEST aborted!!\n"}));
    EXPECT_EQ(view.Result(ResultBox::kEmmc), GetParam().emmcBox);
    EXPECT_FALSE(bench.state.ddrWaiting);
    EXPECT_FALSE(bench.state.running);
}

// 29 and 30 mean the boot images could not be written back or the verdict read: the flash is
// suspect. Any other failure leaves the EMMC box as the eMMC test set it.
INSTANTIATE_TEST_SUITE_P(Pass2, PhaseTwoFailureTest,
                         ::testing::Values(PhaseTwoFailure{29, "FAIL"}, PhaseTwoFailure{30, "FAIL"},
                                           PhaseTwoFailure{31, "PASS"}),
                         [](const auto& info) { return "Code" + std::to_string(info.param.code); });

// --- SDRAM test alone (branch 4) -------------------------------------------------------------

TEST_F(SequencerTest, SdramAloneOnDdrImageModelSettlesLevelTestFailure) {
    steps.Answer("RunSdramLevelTest", 30);
    Run(Select("Amberly (MSM8926)", kSdram));
    EXPECT_EQ(view.Lines(), RunLog("Amberly (MSM8926)", Concat({{"[ddr ap check]\n"}, kAborted})));
    EXPECT_EQ(view.Result(ResultBox::kEmmc), "FAIL");
    EXPECT_EQ(steps.CallCount("RunApCheck"), 0);
}

TEST_F(SequencerTest, SdramAloneFlashOpenFailureIsAnEmmcFailure) {
    steps.Answer("OpenPartition", 6);
    Run(Select("Tamsin (APQ8064)", kSdram));
    EXPECT_EQ(view.Lines(),
              RunLog("Tamsin (APQ8064)",
                     Concat({kApSection, {"Failed to open partition from EMMC\n"}, kAborted})));
    EXPECT_EQ(view.Result(ResultBox::kEmmc), "FAIL");
}

TEST_F(SequencerTest, OnlyDumpTickedRunsTheApCheckAloneAndCompletes) {
    RunSelections s = Select("Tamsin (APQ8064)");
    s.apCheck = false;
    s.dump = true;
    Run(s);
    EXPECT_EQ(view.Lines(), RunLog("Tamsin (APQ8064)", Concat({kApSection, kCompleted})));
    EXPECT_EQ(steps.CallCount("OpenPartition"), 0);
    EXPECT_EQ(view.Result(ResultBox::kAp), "PASS");
    EXPECT_EQ(view.Result(ResultBox::kEmmc), "N/T");
}

// --- PMIC and boot-image restore ---------------------------------------------------------------

TEST_F(SequencerTest, PmicOnClass8ModelIsRefusedAfterTheApCheck) {
    // PMIC ON takes priority over every other test
    Run(Select("Tibbet (MSM8930)", kPmic | kEmmc));
    EXPECT_EQ(view.Lines(),
              RunLog("Tibbet (MSM8930)",
                     Concat({kApSection,
                             {"======== PMIC CONTROL START\n",
                              "In the case of Fenrow,Marlo,Mossel and Tibbet, PMIC test is NOT "
                              "supported\n"},
                             kAborted})));
    EXPECT_THAT(view.Messages(),
                ElementsAre("In the case of Fenrow,Marlo,Mossel and Tibbet, PMIC test is NOT "
                            "supported.  "));
    EXPECT_EQ(steps.CallCount("RunPmicControl"), 0);
    EXPECT_EQ(steps.CallCount("RunEmmcTest"), 0);
}

TEST_F(SequencerTest, PmicOnSupportedModelWithoutTargetDirCompletes) {
    RunSelections s = Select("Corvin (MSM8974)");
    s.pmicOn = true;
    s.apCheck = false;
    s.targetDir.clear();
    Run(s);
    EXPECT_EQ(view.Lines(),
              RunLog("Corvin (MSM8974)", Concat({kApSection,
                                                 {"======== PMIC CONTROL START\n",
                                                  "[pmic control]\n", "======== END\n", "\n"},
                                                 kCompleted})));
    EXPECT_EQ(steps.CallCount("LoadProgramList"), 0);
}

TEST_F(SequencerTest, PmicControlResultDoesNotDecideTheEnding) {
    steps.Answer("RunPmicControl", 31);
    Run(Select("Corvin (MSM8974)", kPmic));
    EXPECT_EQ(view.CountLines("Test Completed !!\n"), 1);
}

TEST_F(SequencerTest, RestoreWritesTheChosenLabelAndCompletes) {
    RunSelections s = Select("Corvin (MSM8974)");
    s.restoreBootImage = true;
    s.restoreLabel = "aboot";
    s.emmcTest = true;  // restore comes before the eMMC test
    Run(s);
    EXPECT_EQ(view.Lines(),
              RunLog("Corvin (MSM8974)",
                     Concat({kApSection,
                             {"======== BOOT IMAGE WRITE START\n", "[write boot images]\n",
                              "Boot images download completed.\n", "======== END\n", "\n"},
                             kCompleted})));
    EXPECT_EQ(steps.CallCount("WriteBootImages(aboot)"), 1);
    EXPECT_EQ(steps.CallCount("RunEmmcTest"), 0);
}

TEST_F(SequencerTest, RestoreFailuresAbort) {
    struct Case {
        const char* operation;
        Lines tail;
        const char* emmcBox;
    };
    const Case cases[] = {
        {"OpenPartition", {"Failed to open partition from EMMC\n", "TEST aborted!!\n"}, "FAIL"},
        {"WriteBootImages", {"TEST aborted!!\n"}, "N/T"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.operation);
        steps.Answer(c.operation, 29);
        RunSelections s = Select("Corvin (MSM8974)");
        s.restoreBootImage = true;
        Run(s);
        const Lines lines = view.Lines();
        ASSERT_GE(lines.size(), c.tail.size() + 1);
        EXPECT_EQ(Lines(lines.end() - 1 - c.tail.size(), lines.end() - 1), c.tail);
        EXPECT_EQ(view.Result(ResultBox::kEmmc), c.emmcBox);
    }
}

// --- branch 0 and the endings themselves -------------------------------------------------------

TEST_F(SequencerTest, NoModelAbortsAtOnce) {
    bench.state.running = true;
    RunSequencer(bench, kPort);
    EXPECT_THAT(view.Lines(),
                ElementsAre("Please select Model Name(AP chipset).\n", "TEST aborted!!\n"));
    EXPECT_THAT(steps.Calls(), ElementsAre("ClosePort"));
    EXPECT_FALSE(bench.state.running);
}

TEST_F(SequencerTest, CompleteRunKeepsDdrWaitingAndAbortRunClearsIt) {
    bench.state.running = true;
    bench.state.ddrWaiting = true;
    CompleteRun(bench);
    EXPECT_FALSE(bench.state.running);
    EXPECT_TRUE(bench.state.ddrWaiting);

    bench.state.running = true;
    AbortRun(bench);
    EXPECT_FALSE(bench.state.running);
    EXPECT_FALSE(bench.state.ddrWaiting);
    EXPECT_THAT(view.Lines(), ElementsAre("Test Completed !!\n", "TEST aborted!!\n"));
}

}  // namespace
}  // namespace veltrix::testing
