// The SDRAM tests against the simulated board on a real pseudo-terminal: the two-phase test
// across the board's RESET (the board really boots the test image and writes its verdict), the
// level test through the DDR-debug image, the sequencer paths that reach them, their failures,
// and the operator's cancel during their long waits.
#include <chrono>
#include <thread>

#include "diag/run_endings.h"
#include "diag/sdram_level_test.h"
#include "diag/sdram_test.h"
#include "tests/diag/sdram_board_fixture.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scripted_board.h"

namespace veltrix::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kGptModel = "Tamsin (APQ8064)";         // loader family 1 (DLOAD)
constexpr const char* kSbl1Model = "Corvin (MSM8974)";        // loader family 0 (Sahara)
constexpr const char* kOemsblModel = "Marlo (MSM7225)";       // loader family 2 (DLOAD)
constexpr const char* kDdrModel = "Hadley Loxley (MSM8226)";  // DDR-image family, Sahara

using Lines = std::vector<std::string>;

const Lines kApPass = {"======== AP CHECK START\n",
                       "Waiting for the device to connect in flash prg\n",
                       "Connected to flash programmer\n",
                       "AP CHECK = pass\n",
                       "======== END\n",
                       "\n"};

class SdramRunTest : public SdramBoardFixture {
protected:
    std::vector<TestPartition> Without(const std::string& label) {
        std::vector<TestPartition> out;
        for (const TestPartition& p : kAllPartitions) {
            if (p.label != label) {
                out.push_back(p);
            }
        }
        return out;
    }
    Bytes TargetImage(const std::string& label) {
        std::ifstream in(target_ / (label + ".mbn"), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    Bytes File(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    bool WaitForLine(const std::string& line, int timeoutMs = 10000) {
        return board_->WaitUntil([&] { return view_.CountLines(line) > 0; }, timeoutMs);
    }
    // Cancels from this thread and gives the real time the worker took to end the run.
    std::chrono::milliseconds CancelAndTime() {
        const auto start = std::chrono::steady_clock::now();
        CancelRun(bench_);
        while (RunInProgress(bench_) && std::chrono::steady_clock::now() - start < 5s) {
            std::this_thread::sleep_for(5ms);
        }
        JoinWorker(bench_);
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    }
    void ExpectCancelledAndClosed() {
        EXPECT_EQ(bench_.state.record.ending, RunEnding::kAborted);
        EXPECT_TRUE(bench_.state.record.cancelled);
        EXPECT_FALSE(PortIsOpen(bench_.link));
        EXPECT_FALSE(bench_.state.running);
        // The log ends with the ending's lines, then the elapsed time; no live line below them.
        const Lines lines = view_.Lines();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(view_.CountLines("Test cancelled by the operator\n"), 1);
        EXPECT_EQ(lines.end()[-2], "TEST aborted!!\n");
        EXPECT_EQ(lines.back().rfind("Elapsed Time : ", 0), 0u);
    }
};

TEST_F(SdramRunTest, TwoPhaseRunAcrossTheBoardsResetPassesEndToEnd) {
    UseModel(kGptModel, 1);
    StartBoard();
    // The board stays away for three 30-second polls (70 s and more of fake time).
    clock_.CueAt(kDdrPollWaitMs, 3, [this] { BringBoardBack(); });
    Run(kSdram);

    Lines expected = {"[Tamsin (APQ8064)]\n", "\n"};
    expected.insert(expected.end(), kApPass.begin(), kApPass.end());
    const Lines rest = {"======== DDR TEST START\n",
                        "TEST LEVEL = 0 (check data/address line)\n",
                        "sbl1 partition write done..\n",  // the model's program list
                        "Device Reset!!\n",
                        "Waiting for DDR test....\n",
                        "Elapsed time for DDR test : 1min\n",
                        "Waiting for the device to connect in flash prg\n",
                        "Connected to flash programmer\n",
                        "DDR TEST = PASS\n",
                        "PrimaryGPT partition write done..\n",
                        "sbl2 partition write done..\n",
                        "======== END\n",
                        "\n",
                        "Test Completed !!\n",
                        "Elapsed Time : 0 hours 1 minutes 49 seconds\n"};
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(view_.Lines(), expected) << console_.str();
    EXPECT_EQ(clock_.Count(kDdrPollWaitMs), 3);
    EXPECT_EQ(bench_.state.record.Box(ResultBox::kSdram), "PASS");
    EXPECT_TRUE(bench_.state.record.Passed());
    EXPECT_FALSE(bench_.state.ddrWaiting);
    // The test image booted once and wrote its record; phase 2 put the real images back over the
    // record and the test image.
    EXPECT_EQ(board_->verdictsWritten(), 1);
    EXPECT_EQ(steps_.restores, (Lines{"", "PrimaryGPT", "sbl2"}));
    EXPECT_EQ(Emmc(0, 34 * 512), TargetImage("PrimaryGPT"));
    EXPECT_EQ(Emmc(128, 8 * 512), TargetImage("sbl2"));
}

TEST_F(SdramRunTest, EmmcAndSdramOnASaharaModelFollowTheEmmcTestWithoutASecondApCheck) {
    UseModel(kSbl1Model, 0);
    StartBoard();
    clock_.CueAt(kDdrPollWaitMs, 1, [this] { BringBoardBack(); });
    Run(kEmmc | kSdram);
    EXPECT_EQ(LinesFrom("EMMC TEST = pass\n", 7),
              (Lines{"EMMC TEST = pass\n", "======== END\n", "\n", "======== DDR TEST START\n",
                     "TEST LEVEL = 0 (check data/address line)\n", "sbl1 partition write done..\n",
                     "Device Reset!!\n"}));
    EXPECT_EQ(view_.CountLines("======== AP CHECK START\n"), 1);
    EXPECT_EQ(view_.CountLines("[emmc test]\n"), 1);  // not repeated in pass 2
    EXPECT_EQ(view_.CountLines("DDR TEST = PASS\n"), 1);
    EXPECT_EQ(bench_.state.record.ending, RunEnding::kCompleted);
    EXPECT_EQ(steps_.restores, (Lines{"", "sbl1"}));
    EXPECT_EQ(Emmc(64, 8 * 512), TargetImage("sbl1"));
}

TEST_F(SdramRunTest, RestoreFailureInPhase2FailsTheEmmcBoxAndAborts) {
    UseModel(kGptModel, 1);
    StartBoard();
    clock_.CueAt(kDdrPollWaitMs, 1, [this] { BringBoardBack(); });
    steps_.failLabels = {"PrimaryGPT"};
    Run(kSdram);
    // "sbl2" is not written once "PrimaryGPT" failed.
    EXPECT_EQ(steps_.restores, (Lines{"", "PrimaryGPT"}));
    // The board keeps the test boot image: the log and the record say what must be done.
    EXPECT_EQ(LinesFrom("DDR TEST = PASS\n", 4),
              (Lines{"DDR TEST = PASS\n", "WRITE FAIL During DDR Test..",
                     std::string(kBootImagesNotRestoredLine), "TEST aborted!!\n"}));
    EXPECT_TRUE(bench_.state.record.bootImagesNotRestored);
    EXPECT_EQ(bench_.state.record.Box(ResultBox::kEmmc), "FAIL");
    EXPECT_FALSE(bench_.state.ddrWaiting);
    EXPECT_FALSE(bench_.state.running);
}

TEST_F(SdramRunTest, VerdictRecordIsComparedIgnoringCaseAndLoggedAsRead) {
    UseModel(kGptModel, 1);
    StartBoard();
    ConnectAndOpen();
    const struct {
        std::string record;
        const char* box;
        const char* line;
    } cases[] = {
        {"PASS", "PASS", "DDR TEST = PASS\n"},
        {"Pass", "PASS", "DDR TEST = Pass\n"},
        {std::string(4, '\0'), "FAIL", "DDR TEST = \\x00\\x00\\x00\\x00\n"},
        {std::string("PAS\0", 4), "FAIL", "DDR TEST = PAS\\x00\n"},
        {"FAIL", "FAIL", "DDR TEST = FAIL\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_TRUE(board_->WriteEmmc(0, Bytes(c.record.begin(), c.record.end())));
        view_.ClearLog();
        bench_.state.logLineCount = 0;
        bench_.state.ddrWaiting = true;
        EXPECT_EQ(RunSdramImageTest(bench_), 0);
        EXPECT_EQ(view_.Lines(), (Lines{c.line, "PrimaryGPT partition write done..\n",
                                        "sbl2 partition write done..\n", "======== END\n", "\n"}));
        EXPECT_EQ(bench_.state.record.Box(ResultBox::kSdram), c.box);
        EXPECT_FALSE(bench_.state.ddrWaiting);
    }
}

TEST_F(SdramRunTest, OemsblFamilyWritesBothTestImagesOrOnlyTheFirstWithoutOemsbl2) {
    for (bool withSecond : {true, false}) {
        SCOPED_TRACE(withSecond);
        UseModel(kOemsblModel, 2, withSecond ? kAllPartitions : Without("OEMSBL2"));
        StartBoard();
        ConnectAndOpen();
        ASSERT_EQ(RunSdramImageTest(bench_), 0) << console_.str();
        EXPECT_TRUE(bench_.state.ddrWaiting);
        EXPECT_EQ(Emmc(192, 1500), File(TestImage("oemsblhd.mbn")));
        const Bytes oemsbl2 = Emmc(256, 1500);
        EXPECT_EQ(oemsbl2 == File(TestImage("oemsbl.mbn")), withSecond);
        // The board was reset: it boots the test image and records its verdict in QCSBL.
        ClosePort(bench_.link);
        ASSERT_TRUE(board_->WaitUntil([&] { return board_->verdictsWritten() == 1; }, 5000));
        EXPECT_EQ(Emmc(320, 4), (Bytes{'P', 'A', 'S', 'S'}));
        board_.reset();
        bench_.state.ddrWaiting = false;
    }
}

TEST_F(SdramRunTest, Phase1RestoreFailureReturns29BeforeAnyTestImage) {
    UseModel(kGptModel, 1);
    StartBoard();
    ConnectAndOpen();
    steps_.failLabels = {""};
    EXPECT_EQ(RunSdramImageTest(bench_), kErrorWriteFault);
    EXPECT_EQ(view_.Lines(),
              (Lines{"======== DDR TEST START\n", "TEST LEVEL = 0 (check data/address line)\n",
                     "WRITE FAIL During DDR Test.."}));
    EXPECT_FALSE(bench_.state.ddrWaiting);
    EXPECT_EQ(Emmc(128, 512), Bytes(512, 0));
    EXPECT_EQ(board_->resets(), 0);
}

TEST_F(SdramRunTest, TestImageFailuresAreNamedAndGive31) {
    UseModel(kGptModel, 1);
    StartBoard();
    ConnectAndOpen();
    // A test image longer than its partition never reaches the flash after it.
    WriteBytes(TestImage("sbl2.mbn"), Pattern(9 * 512, 3));
    EXPECT_EQ(RunSdramImageTest(bench_), kErrorGenFailure);
    const Lines tooLarge = view_.Lines();
    ASSERT_EQ(tooLarge.size(), 4u);
    EXPECT_EQ(tooLarge[2], TestImage("sbl2.mbn").string() +
                               " is 4608 bytes, larger than the sbl2 partition (4096 bytes); "
                               "nothing written past it\n");
    EXPECT_EQ(tooLarge[3], "sbl2 partition write FAIL.. sector 0x80");
    EXPECT_EQ(Emmc(128, 9 * 512), Bytes(9 * 512, 0));
    EXPECT_FALSE(bench_.state.testImagesOnBoard);
    WriteBytes(TestImage("sbl2.mbn"), Pattern(1500, 11));

    // The test image's second block is refused: the half-written test image goes, the boot
    // images are put back.
    view_.ClearLog();
    bench_.state.logLineCount = 0;
    board_->InjectFault({.kind = sim::FaultKind::kRefuseWrite, .command = 0x07, .skip = 1});
    EXPECT_EQ(RunSdramImageTest(bench_), kErrorGenFailure);
    EXPECT_EQ(LinesFrom("sbl2 partition write FAIL.. sector 0x80", 3),
              (Lines{"sbl2 partition write FAIL.. sector 0x80",
                     "PrimaryGPT partition write done..\n", "sbl2 partition write done..\n"}));
    EXPECT_EQ(Emmc(128, 8 * 512), File(target_ / "sbl2.mbn"));
    EXPECT_FALSE(bench_.state.testImagesOnBoard);

    fs::remove(TestImage("sbl2.mbn"));
    view_.ClearLog();
    bench_.state.logLineCount = 0;
    EXPECT_EQ(RunSdramImageTest(bench_), kErrorGenFailure);
    EXPECT_EQ(view_.Lines().back(),
              "Filename not found. Please check if " + TestImage("sbl2.mbn").string() + " exist\n");
    EXPECT_FALSE(bench_.state.ddrWaiting);
    EXPECT_EQ(board_->resets(), 0);
}

// A verdict that cannot be read is still a failure (30), but the test boot image does not stay
// on the board: the boot images go back first.
TEST_F(SdramRunTest, UnreadableVerdictStillPutsTheBootImagesBack) {
    UseModel(kGptModel, 1);
    StartBoard();
    ConnectAndOpen();
    ASSERT_TRUE(board_->WriteEmmc(128 * 512, Pattern(1500, 40)));  // the test image
    bench_.state.ddrWaiting = true;
    bench_.state.testImagesOnBoard = true;
    board_->InjectFault({.kind = sim::FaultKind::kShortReply, .command = 0x03});
    EXPECT_EQ(RunSdramImageTest(bench_), kErrorReadFault);
    EXPECT_EQ(view_.Lines(),
              (Lines{"READ FAIL During DDR Test..", "PrimaryGPT partition write done..\n",
                     "sbl2 partition write done..\n"}));
    EXPECT_EQ(Emmc(128, 8 * 512), File(target_ / "sbl2.mbn"));
    EXPECT_FALSE(bench_.state.testImagesOnBoard);
    EXPECT_EQ(bench_.state.record.Box(ResultBox::kSdram), "N/T");
}

TEST_F(SdramRunTest, MissingVerdictPartitionIsAReadFailure) {
    UseModel(kGptModel, 1, Without("PrimaryGPT"));
    StartBoard();
    ConnectAndOpen();
    bench_.state.ddrWaiting = true;
    EXPECT_EQ(RunSdramImageTest(bench_), kErrorReadFault);
    // No verdict, but the boot images still go back (here the index lacks PrimaryGPT too).
    EXPECT_EQ(view_.Lines(), (Lines{"READ FAIL During DDR Test..",
                                    "PrimaryGPT partition is not in partition.txt\n",
                                    "WRITE FAIL During DDR Test.."}));
    EXPECT_TRUE(bench_.state.ddrWaiting);
    EXPECT_EQ(bench_.state.record.Box(ResultBox::kSdram), "N/T");
    EXPECT_NE(console_.str().find("PrimaryGPT is not in partition.txt"), std::string::npos);
}

TEST_F(SdramRunTest, LevelTestThroughTheDdrDebugImagePassesEndToEnd) {
    UseModel(kDdrModel, 0);
    StartBoard();
    level_ = "1";
    Run(kSdram);
    const Lines expected = {"======== AP CHECK START\n",
                            "Waiting for the device to connect in flash prg\n",
                            "AP CHECK = pass\n",
                            "======== END\n",
                            "\n",
                            "======== DDR TEST START\n",
                            "TEST LEVEL = 1 (check accessing memory by word)\n",
                            "Waiting for DDR test..\n",
                            "DDR TEST = PASS\n",
                            "======== END\n",
                            "\n",
                            "Test Completed !!\n"};
    EXPECT_EQ(LinesFrom("======== AP CHECK START\n", expected.size()), expected);
    EXPECT_EQ(board_->SaharaImage(), File(ModelDir() / "ddr_debug.mbn"));
    EXPECT_EQ(board_->ddrTestsRun(), 1);
    EXPECT_EQ(bench_.state.record.Box(ResultBox::kSdram), "PASS");
    EXPECT_TRUE(bench_.state.record.Passed());
}

TEST_F(SdramRunTest, EmmcThenLevelTestOnADdrModelInOnePass) {
    UseModel(kDdrModel, 0);
    StartBoard();
    // The board reset after the eMMC test takes 4 s to come back (USB re-enumeration often
    // does): its port is tried until it is there.
    clock_.CueAt(kReopenPollMs, 2, [this] { BringBoardBack(); });
    Run(kEmmc | kSdram);
    EXPECT_EQ(clock_.Count(3000), 1);
    EXPECT_GE(clock_.Count(kReopenPollMs), 2);
    EXPECT_EQ(LinesFrom("EMMC TEST = pass\n", 5),
              (Lines{"EMMC TEST = pass\n", "======== END\n", "\n", "======== AP CHECK START\n",
                     "Waiting for the device to connect in flash prg\n"}));
    EXPECT_EQ(view_.CountLines("DDR TEST = PASS\n"), 1);
    EXPECT_EQ(view_.CountLines("Test Completed !!\n"), 1);
    EXPECT_EQ(clock_.Count(kDdrTestWaitMs), 0);  // one pass, no DDR wait
}

TEST_F(SdramRunTest, LevelTestVerdictsAndAnInvalidLevel) {
    UseModel(kDdrModel, 0);
    StartBoard();
    ASSERT_EQ(RunDdrApCheck(bench_, kBoardPort), 0);
    view_.ClearLog();
    bench_.state.logLineCount = 0;

    bench_.state.ddrLevel = 5;
    EXPECT_EQ(RunSdramLevelTest(bench_, kBoardPort), kErrorGenFailure);
    EXPECT_EQ(view_.Lines(), (Lines{"======== DDR TEST START\n", "TEST LEVEL = 5\n",
                                    "Invalid DDR test level 5 (It should be 0 or 1)\n"}));
    EXPECT_EQ(board_->ddrTestsRun(), 0);

    board_->SetDdrVerdict('0');
    bench_.state.ddrLevel = 0;
    EXPECT_EQ(RunSdramLevelTest(bench_, kBoardPort), 0);
    EXPECT_EQ(view_.CountLines("TEST LEVEL = 0 (check data/address line)\n"), 1);
    EXPECT_EQ(view_.CountLines("DDR TEST = FAIL\n"), 1);
    EXPECT_EQ(bench_.state.record.Box(ResultBox::kSdram), "FAIL");
    EXPECT_FALSE(bench_.state.record.sdramNoVerdict);
    EXPECT_EQ(board_->ddrTestsRun(), 1);

    // A reply with neither '0' nor '1' at index 3: no verdict line, the box as it was, and a
    // record that cannot read as passed.
    board_->SetDdrVerdict('7');
    EXPECT_EQ(RunSdramLevelTest(bench_, kBoardPort), 0);
    EXPECT_EQ(view_.CountLines("DDR TEST = FAIL\n"), 1);
    EXPECT_EQ(view_.CountLines("DDR TEST = PASS\n"), 0);
    EXPECT_EQ(bench_.state.record.Box(ResultBox::kSdram), "FAIL");
    EXPECT_TRUE(bench_.state.record.sdramNoVerdict);
    bench_.state.record.ending = RunEnding::kCompleted;
    bench_.state.record.boxes = {kResultPass, kResultNotTested, kResultNotTested};
    EXPECT_FALSE(bench_.state.record.Passed());
}

TEST_F(SdramRunTest, CancelDuringTheDdrWaitEndsTheRunAtOnce) {
    UseModel(kGptModel, 1);
    StartBoard();  // never brought back after its RESET
    RunSelections s;
    s.apCheck = s.sdramTest = true;
    s.model = kGptModel;
    s.targetDir = target_.string();
    Start(s);
    ASSERT_TRUE(WaitForLine("Waiting for DDR test....\n"));
    ASSERT_TRUE(board_->WaitUntil([&] { return clock_.Count(kDdrPollWaitMs) > 2; }, 5000));
    EXPECT_LT(CancelAndTime(), 1000ms);
    ExpectCancelledAndClosed();
    // The board was left with its test boot image: the run says so.
    EXPECT_TRUE(bench_.state.record.bootImagesNotRestored);
    EXPECT_EQ(view_.CountLines(std::string(kBootImagesNotRestoredLine)), 1);
}

TEST_F(SdramRunTest, CancelDuringALongDdrExchangeEndsTheRunWithinASecond) {
    UseModel(kDdrModel, 0);
    options_.ddrDelayMs = 60000;  // the memory test would take a minute
    StartBoard();
    RunSelections s;
    s.apCheck = s.sdramTest = true;
    s.model = kDdrModel;
    s.targetDir = target_.string();
    Start(s);
    ASSERT_TRUE(WaitForLine("Waiting for DDR test..\n"));
    ASSERT_TRUE(board_->WaitUntil([&] { return board_->ddrTestsRun() == 1; }, 5000));
    std::this_thread::sleep_for(200ms);
    EXPECT_LT(CancelAndTime(), 1000ms);
    ExpectCancelledAndClosed();
    EXPECT_EQ(view_.CountLines("DDR TEST = PASS\n"), 0);
}

// The wake exchange's reply happens to hold '1' at byte 3; the start exchange then fails (its
// reply is too large for the reply buffer). No verdict may come of it.
TEST(SdramLevelExchange, FailedStartExchangeCountsAsNoVerdict) {
    PtyPair pty(15);
    ScriptedBoard board(pty);
    const Bytes text1 = {'D', 'D', 'R', '1', '\r', '\n'};
    const Bytes leave = {'D', 'D', 'R', '.'};
    board.Exchange({0x0D}, text1)
        .Expect({0x31, 0x0D})
        .Answer(Bytes(1200, 'x'))
        .Exchange({0x0D}, leave)
        .Exchange({0x30, 0x0D}, leave);
    board.Start();
    RecordingView view;
    DeviceSteps steps;
    FakeClock clock;
    std::ostringstream console;
    Workbench bench(view, steps, clock, console);
    EXPECT_EQ(RunSdramLevelTest(bench, 15), 0);
    EXPECT_EQ(board.Finish(), std::vector<std::string>{});
    EXPECT_EQ(view.Lines(),
              (Lines{"======== DDR TEST START\n", "TEST LEVEL = 0 (check data/address line)\n",
                     "Waiting for DDR test..\n", "No DDR test verdict came from the board\n",
                     "======== END\n", "\n"}));
    EXPECT_EQ(view.Result(ResultBox::kSdram), "");
    ClosePort(bench.link);
}

}  // namespace
}  // namespace veltrix::testing
