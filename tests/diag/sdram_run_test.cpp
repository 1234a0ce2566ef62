// The SDRAM tests against the simulated board: the two-phase test across the board's RESET (the
// board boots the test image and writes its verdict) in whole runs and phase by phase, the level
// test through the DDR-debug image, their failures, and the operator's cancel during their long
// waits.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "diag/ap_check.h"
#include "diag/run_endings.h"
#include "diag/run_report.h"
#include "diag/run_worker.h"
#include "diag/sdram_level_test.h"
#include "diag/sdram_test.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scene_board.h"
#include "tests/support/scripted_board.h"

namespace veltrix::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::vector<Partition> kAllPartitions = {
    {"PrimaryGPT", 0, 34}, {"sbl1", 64, 8},     {"sbl2", 128, 8},
    {"OEMSBL1", 192, 8},   {"OEMSBL2", 256, 8}, {"QCSBL", 320, 8},
};
const std::string kLevel0Line = "TEST LEVEL = 0 (check data/address line)\n";
const Lines kPhase2Restore = {"PrimaryGPT partition write done..\n",
                              "sbl2 partition write done..\n"};
const std::string kNotRestored(kBootImagesNotRestoredText);

// A board that a RESET sent away for good comes back; returns once its port is there. (The host
// has the RESET answer before the board has left: wait for it to be away first.)
void BringBack(sim::SimulatedBoard& board) {
    ASSERT_TRUE(board.WaitUntil([&] { return board.resets() >= 1; }, 5000));
    board.BringBack();
    ASSERT_TRUE(board.WaitUntil(
        [&] { return board.mode() != sim::BoardMode::kAway && !board.linkPath().empty(); }, 5000));
}

class SdramRunTest : public SceneRunTest {
protected:
    // `model` on the scene with every partition of the three image sets; its board stays away
    // after a RESET until the test brings it back.
    void Use(const std::string& model) {
        scene.WriteModel(model, {"sbl1"});
        scene.WritePartitions(kAllPartitions);
        options = BoardFor(scene, model);
        options.resetDelayMs = -1;
    }
    // A whole SDRAM run of `model`; `meanwhile` runs on the run's nth wait of `ms`.
    void RunWith(const std::string& model, bool emmc, const std::string& level, uint32_t ms,
                 int nth, std::function<void()> meanwhile) {
        rig.clock.CueAt(ms, rig.clock.Count(ms) + nth, std::move(meanwhile));
        Run(SdramRun(scene, model, emmc, level));
    }
    Bytes Flash(uint64_t sector, size_t sectors) const {
        return ReadFlash(*board, sector, sectors);
    }
};

TEST_F(SdramRunTest, TwoPhaseRunAcrossTheBoardsResetPassesOrLeavesTheBoardMarked) {
    Use(kDloadModel);
    // The board stays away for three 30-second polls (70 s and more of fake time).
    RunWith(kDloadModel, false, "0", kDdrPollWaitMs, 3, [this] { BringBack(*board); });
    EXPECT_EQ(rig.view.Lines(), Join({{"[Tamsin (APQ8064)]\n", "\n"},
                                      kApCheckPass,
                                      {"======== DDR TEST START\n", kLevel0Line,
                                       "sbl1 partition write done..\n",  // the model's program list
                                       "Device Reset!!\n", "Waiting for DDR test....\n",
                                       "Elapsed time for DDR test : 1min\n",
                                       "Waiting for the device to connect in flash prg\n",
                                       "Connected to flash programmer\n", "DDR TEST = PASS\n"},
                                      kPhase2Restore,
                                      {"======== END\n", "\n", "Test Completed !!\n",
                                       "Elapsed Time : 0 hours 1 minutes 49 seconds\n"}}))
        << rig.console.str();
    EXPECT_EQ(rig.clock.Count(kDdrPollWaitMs), 3);
    EXPECT_EQ(rig.record().Box(ResultBox::kSdram), "PASS");
    EXPECT_TRUE(rig.record().Passed());
    // The test image booted once and wrote its record; phase 2 put the real images back over the
    // record and the test image.
    EXPECT_EQ(board->verdictsWritten(), 1);
    EXPECT_EQ(Flash(0, 34), scene.Image("PrimaryGPT"));
    EXPECT_EQ(Flash(128, 8), scene.Image("sbl2"));

    // The board refuses phase 2's restore: it keeps the test boot image, and the log and the
    // record say what must be done.
    board.reset();
    RunWith(kDloadModel, false, "0", kDdrPollWaitMs, 1, [this] {
        board->InjectFault(FaultOn(sim::FaultKind::kRefuseWrite, 0x07));
        board->ClearRequestJournal();
        BringBack(*board);
    });
    EXPECT_EQ(rig.LinesFrom("DDR TEST = PASS\n", 6),
              (Lines{"DDR TEST = PASS\n", "PrimaryGPT partition write FAIL.. sector 0x0\n",
                     "WRITE FAIL During DDR Test..", kNotRestored + " (sbl2, PrimaryGPT)\n",
                     "TEST aborted!!\n", "Elapsed Time : 0 hours 0 minutes 49 seconds\n"}));
    EXPECT_TRUE(rig.record().bootImagesNotRestored);
    EXPECT_EQ(rig.record().partitionsToRestore, (Lines{"sbl2", "PrimaryGPT"}));
    EXPECT_EQ(rig.record().Box(ResultBox::kEmmc), "FAIL");
    EXPECT_EQ(Requests(*board, 0x07).size(), 1u);  // sbl2 is not tried once PrimaryGPT failed
}

TEST_F(SdramRunTest, EmmcAndSdramOnASaharaModelFollowTheEmmcTestWithoutASecondApCheck) {
    Use(kSaharaModel);
    RunWith(kSaharaModel, true, "0", kDdrPollWaitMs, 1, [this] { BringBack(*board); });
    EXPECT_EQ(rig.LinesFrom("EMMC TEST = pass\n", 7),
              (Lines{"EMMC TEST = pass\n", "======== END\n", "\n", "======== DDR TEST START\n",
                     kLevel0Line, "sbl1 partition write done..\n", "Device Reset!!\n"}));
    EXPECT_EQ(rig.view.CountLines("======== AP CHECK START\n"), 1);
    EXPECT_EQ(rig.view.CountLines("sbl1 partition read done..\n"), 1);  // not repeated in pass 2
    EXPECT_EQ(rig.view.CountLines("DDR TEST = PASS\n"), 1);
    EXPECT_EQ(rig.record().ending, RunEnding::kCompleted);
    EXPECT_EQ(Flash(64, 8), scene.Image("sbl1"));
}

// The lines of a verdict place that holds no verdict.
Lines NoVerdict(const std::string& shown) {
    return {"No DDR test verdict came from the board\n",
            "PrimaryGPT holds " + shown +
                " where the test image writes PASS or FAIL: it did not run to its end\n"};
}

// A verdict left in the verdict place by an earlier run is no verdict of this run: phase 1 clears
// it before the reset, so a test image that writes none (it crashed, or never booted) ends the
// run without a verdict. The board gets back what it had: the GPT from its image or, when the
// target directory has none, the sector as phase 1 found it.
TEST_F(SdramRunTest, AVerdictThisRunDidNotCauseIsNoVerdict) {
    for (const bool gptImage : {true, false}) {
        SCOPED_TRACE(gptImage ? "GPT image in the target directory" : "no GPT image");
        Use(kDloadModel);  // the program list does not name PrimaryGPT
        options.verdictRecord = "";
        board.reset();
        ReadyBoard(board, options);
        const Bytes stale = Join({{'P', 'A', 'S', 'S'}, Noise(508, 5)});
        ASSERT_TRUE(board->WriteEmmc(0, stale));
        const fs::path gpt = scene.targetDir() / "PrimaryGPT.mbn";
        fs::remove(gpt);
        if (gptImage) {  // a protective MBR begins with zeros
            WriteBytes(gpt, Join({Bytes(4, 0), Noise(34 * 512 - 4, 6)}));
        }
        RunWith(kDloadModel, false, "0", kDdrPollWaitMs, 1, [this] { BringBack(*board); });
        EXPECT_EQ(rig.LinesFrom("No DDR test verdict came from the board\n", 7),
                  Join({NoVerdict("\\x00\\x00\\x00\\x00"),
                        kPhase2Restore,
                        {"======== END\n", "\n", "Test Completed !!\n"}}));
        EXPECT_EQ(VerdictOf(rig.record()).text, "FAIL: no SDRAM verdict");
        EXPECT_EQ(ExitStatusOf(rig.record()), 1);
        EXPECT_EQ(Flash(0, 1), gptImage ? Slice(ReadBytes(gpt), 0, 512) : stale);
        EXPECT_EQ(Flash(128, 8), scene.Image("sbl2"));
    }
}

// Everything phase 1 wrote goes back, whether the program list names it or not; an image the
// target directory lacks cannot, and the run names it (the others still go back).
TEST_F(SdramRunTest, EverythingPhase1WroteGoesBackListedOrNot) {
    const char* model = "Marlo (MSM7225)";  // test images in OEMSBL1 and OEMSBL2, verdict in QCSBL
    scene.WriteModel(model, {"sbl1"});
    scene.WritePartitions(kAllPartitions);
    options = BoardFor(scene, model);
    options.resetDelayMs = -1;
    const auto expectBack = [this](std::initializer_list<std::pair<const char*, int>> parts) {
        for (const auto& [label, sector] : parts) {
            EXPECT_EQ(Flash(static_cast<uint64_t>(sector), 8), scene.Image(label)) << label;
        }
    };
    RunWith(model, false, "0", kDdrPollWaitMs, 1, [this] { BringBack(*board); });
    EXPECT_TRUE(rig.record().Passed()) << VerdictOf(rig.record()).text;
    expectBack({{"OEMSBL1", 192}, {"OEMSBL2", 256}, {"QCSBL", 320}});

    fs::remove(scene.targetDir() / "OEMSBL2.mbn");
    board.reset();
    RunWith(model, false, "0", kDdrPollWaitMs, 1, [this] { BringBack(*board); });
    EXPECT_EQ(rig.view.CountLines(kNotRestored + " (OEMSBL2)\n"), 1);
    EXPECT_EQ(rig.record().partitionsToRestore, Lines{"OEMSBL2"});
    EXPECT_EQ(VerdictOf(rig.record()).text, "ABORTED: OEMSBL2.mbn not found");
    EXPECT_EQ(rig.record().Box(ResultBox::kEmmc), "N/T");  // the PC's file, not the flash
    expectBack({{"OEMSBL1", 192}, {"QCSBL", 320}});
}

// The wait for the board after the test's reset has an end: the run is aborted, and says why and
// what the board holds.
TEST_F(SdramRunTest, ABoardThatDoesNotComeBackEndsTheRunAndNamesWhatToRestore) {
    Use(kDloadModel);
    RunSelections selections = SdramRun(scene, kDloadModel);
    selections.boardWaitSeconds = 90;
    Run(selections);
    EXPECT_EQ(rig.clock.Count(kDdrPollWaitMs), 3);
    const Lines tail = rig.After("Elapsed time for DDR test");
    ASSERT_EQ(tail.size(), 3u) << ::testing::PrintToString(rig.view.Lines());
    EXPECT_TRUE(tail[0].starts_with("The board did not come back within 90 s")) << tail[0];
    EXPECT_EQ(tail[1], kNotRestored + " (sbl2, PrimaryGPT)\n");
    EXPECT_EQ(VerdictOf(rig.record()).text, "ABORTED: the board did not come back");
    EXPECT_TRUE(rig.record().bootImagesNotRestored);
    EXPECT_EQ(AdviceOf(rig.record()),
              (Lines{"power the board off and on in download mode, then run RESTORE BOOT IMG",
                     "restore sbl2, PrimaryGPT (RESTORE BOOT IMG) before the board leaves the "
                     "bench"}));
}

// Phase 2 on its own: the verdict record as read (compared ignoring case), no verdict, and a
// verdict that cannot be read, which is still a failure but does not leave the test boot image
// on the board.
TEST_F(SdramRunTest, Phase2ShowsTheVerdictAsReadAndPutsTheBootImagesBack) {
    Use(kDloadModel);
    ReadyBoard(board, options);
    TestRig test(scene, kDloadModel);
    ASSERT_EQ(test.ConnectAndOpen(kBoardPort), 0) << test.console.str();
    const struct {
        std::string record;
        bool shortRead;
        int result;
        Lines lines;
        const char* box;
    } cases[] = {
        {"PASS", false, 0, {"DDR TEST = PASS\n"}, "PASS"},
        {"Pass", false, 0, {"DDR TEST = Pass\n"}, "PASS"},
        {"fail", false, 0, {"DDR TEST = fail\n"}, "FAIL"},
        // Anything but a verdict is no verdict: the test image did not get as far as writing.
        {std::string(4, '\0'), false, 0, NoVerdict("\\x00\\x00\\x00\\x00"), "N/T"},
        {std::string("PAS\0", 4), false, 0, NoVerdict("PAS\\x00"), "N/T"},
        {"PASX", false, 0, NoVerdict("PASX"), "N/T"},
        {"PASS", true, kErrorReadFault, {"READ FAIL During DDR Test.."}, "N/T"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines[0]);
        test.NewRun();
        ASSERT_TRUE(board->WriteEmmc(0, Bytes(c.record.begin(), c.record.end())));
        ASSERT_TRUE(board->WriteEmmc(128 * 512, Noise(1500, 40)));  // the test image
        if (c.shortRead) {
            board->InjectFault({.kind = sim::FaultKind::kShortReply, .command = 0x03});
        }
        SdramLeftovers leftovers{{"sbl2", "PrimaryGPT"}, {}};
        EXPECT_EQ(RunSdramTestPhase2(test.ctx, test.session, test.files, leftovers), c.result);
        const Lines end = c.result == 0 ? Lines{"======== END\n", "\n"} : Lines{};
        EXPECT_EQ(test.view.Lines(), Join({c.lines, kPhase2Restore, end}));
        EXPECT_EQ(test.ctx.record().Box(ResultBox::kSdram), c.box);
        EXPECT_EQ(test.ctx.record().sdramNoVerdict, c.lines.size() == 2);
        EXPECT_EQ(Flash(128, 8), scene.Image("sbl2"));
        EXPECT_FALSE(leftovers.Any());
    }
    // Without its partition in the index there is no verdict, and no GPT to put back either.
    scene.WritePartitions({kAllPartitions.begin() + 1, kAllPartitions.end()}, false);
    test.LoadIndex();
    test.NewRun();
    SdramLeftovers leftovers{{"sbl2"}, {}};
    EXPECT_EQ(RunSdramTestPhase2(test.ctx, test.session, test.files, leftovers), kErrorReadFault);
    // The GPT cannot go back, but the test image's partition still does.
    EXPECT_EQ(
        test.view.Lines(),
        (Lines{"READ FAIL During DDR Test..", "PrimaryGPT partition is not in partition.txt\n",
               "WRITE FAIL During DDR Test..", "sbl2 partition write done..\n"}));
    EXPECT_FALSE(leftovers.Any());
    EXPECT_EQ(Flash(128, 8), scene.Image("sbl2"));
    EXPECT_NE(test.console.str().find("PrimaryGPT is not in partition.txt"), std::string::npos);
}

// Phase 1 on its own: the boot images cannot be written (29, nothing else written), or a test
// image cannot (31, named; when part of it may have reached the flash the boot images go back).
// The board is never reset then.
TEST_F(SdramRunTest, Phase1FailuresAreNamedAndLeaveABootableBoard) {
    Use(kDloadModel);
    ReadyBoard(board, options);
    TestRig test(scene, kDloadModel);
    ASSERT_EQ(test.ConnectAndOpen(kBoardPort), 0) << test.console.str();
    const fs::path image = scene.TestImage(kDloadModel, "sbl2.mbn");
    const Lines sbl1Done = {"sbl1 partition write done..\n"};
    const std::string sbl2Fail = "sbl2 partition write FAIL.. sector 0x80";
    const struct {
        const char* name;
        std::function<void()> arrange;
        int result;
        Lines lines;
        bool sbl2Restored;
    } cases[] = {
        {"boot image refused",
         [&] { board->InjectFault(FaultOn(sim::FaultKind::kRefuseWrite, 0x07)); },
         kErrorWriteFault,
         {"sbl1 partition write FAIL.. sector 0x40\n", "WRITE FAIL During DDR Test.."},
         false},
        // A test image longer than its partition never reaches the flash after it.
        {"test image too large", [&] { WriteBytes(image, Noise(9 * 512, 3)); }, kErrorGenFailure,
         Join({sbl1Done,
               {image.string() + " is 4608 bytes, larger than the sbl2 partition (4096 "
                                 "bytes); nothing written past it\n",
                sbl2Fail}}),
         false},
        {"test image missing", [&] { fs::remove(image); }, kErrorGenFailure,
         Join({sbl1Done,
               {"Filename not found. Please check if " + image.string() + " exist\n", sbl2Fail}}),
         false},
        // The test image is written (2 blocks after sbl1's 4); the verdict place is refused.
        {"verdict place refused",
         [&] { board->InjectFault(FaultOn(sim::FaultKind::kRefuseWrite, 0x07, 6)); },
         kErrorGenFailure,
         Join({sbl1Done, {"PrimaryGPT partition write FAIL.. sector 0x0"}, kPhase2Restore}), true},
        // The test image's second block is refused: the half-written test image goes.
        {"test image cut short",
         [&] { board->InjectFault(FaultOn(sim::FaultKind::kRefuseWrite, 0x07, 5)); },
         kErrorGenFailure, Join({sbl1Done, {sbl2Fail}, kPhase2Restore}), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test.NewRun();
        WriteBytes(image, Noise(1500, 11));
        c.arrange();
        SdramLeftovers leftovers;
        EXPECT_EQ(RunSdramTestPhase1(test.ctx, test.session, test.files, leftovers), c.result);
        EXPECT_EQ(test.view.Lines(), Join({{"======== DDR TEST START\n", kLevel0Line}, c.lines}));
        EXPECT_FALSE(leftovers.Any());
        EXPECT_EQ(Flash(128, 9),
                  c.sbl2Restored ? Join({scene.Image("sbl2"), Bytes(512)}) : Bytes(9 * 512, 0));
    }
    EXPECT_EQ(board->resets(), 0);
}

// Family 2 writes both test images, or only the first when the index has no OEMSBL2; the board
// then boots the test image and records its verdict in QCSBL.
TEST(SdramPhase1Test, OemsblFamilyWritesBothTestImagesOrOnlyTheFirst) {
    const char* model = "Marlo (MSM7225)";
    enum class Second { kWritten, kNoPartition, kTooLarge };
    for (const Second second : {Second::kWritten, Second::kNoPartition, Second::kTooLarge}) {
        SCOPED_TRACE(static_cast<int>(second));
        BenchScene scene;
        scene.WriteModel(model, {"sbl1", "OEMSBL1"});
        std::vector<Partition> partitions = kAllPartitions;
        if (second == Second::kNoPartition) {
            partitions.erase(partitions.begin() + 4);
        }
        scene.WritePartitions(partitions);
        if (second == Second::kTooLarge) {  // refused before it is sent
            WriteBytes(scene.TestImage(model, "oemsbl.mbn"), Noise(9 * 512, 2));
        }
        auto board = StartBoard(BoardFor(scene, model));
        TestRig test(scene, model);
        ASSERT_EQ(test.ConnectAndOpen(kBoardPort), 0) << test.console.str();
        SdramLeftovers leftovers;
        EXPECT_EQ(RunSdramTestPhase1(test.ctx, test.session, test.files, leftovers) == 0,
                  second != Second::kTooLarge);
        if (second == Second::kTooLarge) {  // the first test image makes way for the boot image
            EXPECT_FALSE(leftovers.Any());
            EXPECT_EQ(ReadFlash(*board, 192, 8), scene.Image("OEMSBL1"));
            continue;
        }
        EXPECT_EQ(leftovers.partitions, second == Second::kWritten
                                            ? (Lines{"OEMSBL1", "OEMSBL2", "QCSBL"})
                                            : (Lines{"OEMSBL1", "QCSBL"}));
        const Bytes first = ReadBytes(scene.TestImage(model, "oemsblhd.mbn"));
        Bytes onBoard = ReadFlash(*board, 192, 3);  // over the boot image written first
        onBoard.resize(first.size());
        EXPECT_EQ(onBoard, first);
        const Bytes image = ReadBytes(scene.TestImage(model, "oemsbl.mbn"));
        EXPECT_EQ(ReadFlash(*board, 256, 3) == Join({image, Bytes(36)}),
                  second == Second::kWritten);
        test.link.Close();
        ASSERT_TRUE(board->WaitUntil([&] { return board->verdictsWritten() == 1; }, 5000));
        const Bytes verdict = ReadFlash(*board, 320, 1);
        EXPECT_EQ(Bytes(verdict.begin(), verdict.begin() + 4), (Bytes{'P', 'A', 'S', 'S'}));
    }
}

// After the eMMC test a DDR-image model is reset; the board takes 4 s to come back (USB
// re-enumeration often does) and its port is tried until it is there. The level test follows in
// the same pass, with no DDR wait.
TEST_F(SdramRunTest, EmmcThenLevelTestOnADdrModelInOnePass) {
    Use(kDdrModel);
    RunWith(kDdrModel, true, "1", kReopenPollMs, 2, [this] { BringBack(*board); });
    EXPECT_EQ(
        rig.After("EMMC TEST = pass"),
        (Lines{"======== END\n", "\n", "======== AP CHECK START\n",
               "Waiting for the device to connect in flash prg\n", "AP CHECK = pass\n",
               "======== END\n", "\n", "======== DDR TEST START\n",
               "TEST LEVEL = 1 (check accessing memory by word)\n", "Waiting for DDR test..\n",
               "DDR TEST = PASS\n", "======== END\n", "\n", "Test Completed !!\n"}));
    EXPECT_EQ(rig.clock.Count(3000), 1);
    EXPECT_GE(rig.clock.Count(kReopenPollMs), 2);
    EXPECT_EQ(rig.clock.Count(kDdrTestWaitMs), 0);
    EXPECT_EQ(board->SaharaImage(), scene.ddrImage);
    EXPECT_EQ(board->ddrTestsRun(), 1);
    EXPECT_TRUE(rig.record().Passed());
}

TEST_F(SdramRunTest, LevelTestVerdictsAndAnInvalidLevel) {
    Use(kDdrModel);
    ReadyBoard(board, options);
    TestRig test(scene, kDdrModel);
    ASSERT_EQ(RunDdrApCheck(test.ctx, test.session, test.files, 0), 0);
    test.NewRun();
    EXPECT_EQ(RunSdramLevelTest(test.ctx, test.session, 5), kErrorGenFailure);
    EXPECT_EQ(test.view.Lines(), (Lines{"======== DDR TEST START\n", "TEST LEVEL = 5\n",
                                        "Invalid DDR test level 5 (It should be 0 or 1)\n"}));
    EXPECT_EQ(board->ddrTestsRun(), 0);

    test.NewRun();
    board->SetDdrVerdict('0');
    EXPECT_EQ(RunSdramLevelTest(test.ctx, test.session, 0), 0);
    EXPECT_EQ(test.view.Lines(),
              (Lines{"======== DDR TEST START\n", kLevel0Line, "Waiting for DDR test..\n",
                     "DDR TEST = FAIL\n", "======== END\n", "\n"}));
    EXPECT_EQ(test.ctx.record().Box(ResultBox::kSdram), "FAIL");
    EXPECT_FALSE(test.ctx.record().sdramNoVerdict);

    // A reply with neither '0' nor '1' at index 3: the box as it was, and a record that cannot
    // read as passed.
    board->SetDdrVerdict('7');
    EXPECT_EQ(RunSdramLevelTest(test.ctx, test.session, 0), 0);
    EXPECT_EQ(test.view.CountLines("No DDR test verdict came from the board\n"), 1);
    EXPECT_EQ(test.ctx.record().Box(ResultBox::kSdram), "FAIL");
    EXPECT_TRUE(test.ctx.record().sdramNoVerdict);
    test.ctx.record().ending = RunEnding::kCompleted;
    test.ctx.record().boxes = {kResultPass, kResultNotTested, kResultNotTested};
    EXPECT_FALSE(test.ctx.record().Passed());
    EXPECT_EQ(board->ddrTestsRun(), 2);
}

// The operator's cancel during the DDR wait, and during a DDR-level exchange that would take a
// minute: the run ends within a second as aborted, and the port is free.
TEST_F(SdramRunTest, CancelDuringALongWaitEndsTheRunWithinASecond) {
    for (const bool level : {false, true}) {
        SCOPED_TRACE(level ? "level test" : "DDR wait");
        const char* model = level ? kDdrModel : kDloadModel;
        Use(model);
        options.ddrDelayMs = 60000;
        board.reset();
        ReadyBoard(board, options);
        // The wait for the board is long, and its polls take a little real time.
        RunSelections selections = SdramRun(scene, model);
        selections.boardWaitSeconds = 86400;
        rig.clock.onSleep = [](uint32_t) { std::this_thread::sleep_for(2ms); };
        ASSERT_EQ(rig.Start(selections, kBoardPort), 0);
        if (level) {
            ASSERT_TRUE(rig.view.WaitForLine("Waiting for DDR test..\n", 10s));
            ASSERT_TRUE(board->WaitUntil([&] { return board->ddrTestsRun() == 1; }, 5000));
            std::this_thread::sleep_for(200ms);
        } else {
            ASSERT_TRUE(rig.view.WaitForLine("Waiting for DDR test....\n", 10s));
            ASSERT_TRUE(
                board->WaitUntil([&] { return rig.clock.Count(kDdrPollWaitMs) > 2; }, 5000));
        }
        const auto start = std::chrono::steady_clock::now();
        rig.engine.Cancel();
        ASSERT_TRUE(rig.WaitForEnd(5s));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        EXPECT_EQ(rig.record().ending, RunEnding::kAborted);
        EXPECT_TRUE(rig.record().cancelled);
        EXPECT_EQ(rig.view.CountLines("Test cancelled by the operator\n"), 1);
        EXPECT_EQ(rig.view.Lines().end()[-2], "TEST aborted!!\n");
        EXPECT_TRUE(rig.view.Lines().back().starts_with("Elapsed Time : "));
        EXPECT_EQ(rig.view.CountLines("DDR TEST = PASS\n"), 0);
        // A board left with its test boot image: the run says so.
        EXPECT_EQ(rig.record().bootImagesNotRestored, !level);
        EXPECT_EQ(rig.view.CountLines(kNotRestored + " (sbl2, PrimaryGPT)\n"), level ? 0 : 1);
        // The DDR-debug image still runs on the board; a board that is away runs nothing.
        EXPECT_EQ(rig.record().programmerRunning, level);
        if (!level) {
            BringBack(*board);
        }
        SerialLink fresh;
        EXPECT_EQ(fresh.Open(kBoardPort), 0) << fresh.lastError();
    }
}

// The wake exchange's reply happens to hold '1' at byte 3; the start exchange then fails (its
// reply is too large for the reply buffer). No verdict may come of it.
TEST(SdramLevelExchangeTest, FailedStartExchangeCountsAsNoVerdict) {
    BenchScene scene;
    TestRig test(scene, kDdrModel);
    PtyPair pty(15);
    ScriptedBoard board(pty);
    const Bytes leave = {'D', 'D', 'R', '.'};
    board.Exchange({0x0D}, {'D', 'D', 'R', '1', '\r', '\n'})
        .Expect({0x31, 0x0D})
        .Answer(Bytes(1200, 'x'))
        .Exchange({0x0D}, leave)
        .Exchange({0x30, 0x0D}, leave);
    board.Start();
    test.link.Bind(15);
    EXPECT_EQ(RunSdramLevelTest(test.ctx, test.session, 0), 0);
    EXPECT_EQ(board.Finish(), std::vector<std::string>{});
    EXPECT_EQ(test.view.Lines(),
              (Lines{"======== DDR TEST START\n", kLevel0Line, "Waiting for DDR test..\n",
                     "No DDR test verdict came from the board\n", "======== END\n", "\n"}));
    EXPECT_EQ(test.view.Result(ResultBox::kSdram), "");
    EXPECT_TRUE(test.ctx.record().sdramNoVerdict);
}

}  // namespace
}  // namespace veltrix::testing
