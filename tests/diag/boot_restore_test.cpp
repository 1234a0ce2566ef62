// The boot-image restore in whole runs through the engine: image files of the target directory
// written into the simulated board's flash at the sectors partition.txt gives, and the images
// that are refused before anything is sent.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "diag/run_record.h"
#include "tests/support/scene_board.h"

namespace veltrix::testing {
namespace {

namespace fs = std::filesystem;

const Lines kRestoreEnd = {"Boot images download completed.\n", "======== END\n", "\n",
                           "Test Completed !!\n"};

Bytes Flash(const sim::SimulatedBoard& board, uint64_t sector, size_t bytes) {
    Bytes all = ReadFlash(board, sector, (bytes + 511) / 512);
    all.resize(bytes);
    return all;
}

class RestoreRunTest : public SceneRunTest {
protected:
    RestoreRunTest() {
        scene.WriteModel(kDloadModel, {"sbl1", "tz", "rpm"});
        scene.WritePartitions({{"modem", 0x40, 64},
                               {"sbl1", 0x100, 8},
                               {"tz", 0x200, 16},
                               {"rpm", 0x300, 4},
                               {"evil", 0x400, 8, "../secret.mbn"}});
        WriteBytes(scene.targetDir() / "sbl1.mbn", sbl1);
        WriteBytes(scene.targetDir() / "rpm.mbn", rpm);
        WriteBytes(scene.root() / "secret.mbn", Noise(512, 7));
        options = BoardFor(scene, kDloadModel);
    }
    void Run(const std::string& label = "") {
        SceneRunTest::Run(RestoreRun(scene, kDloadModel, label));
    }
    // The log after the restore's start line.
    Lines TestLines() const { return rig.After("======== BOOT IMAGE WRITE START"); }
    std::vector<uint32_t> WriteAddresses() const {
        std::vector<uint32_t> out;
        for (const Bytes& w : Requests(*board, 0x07)) {
            out.push_back(Le32(w, 1));
        }
        return out;
    }

    const Bytes sbl1 = Noise(1300, 1);  // 1024 at 0x100, then 276 at 0x102
    const Bytes rpm = Noise(700, 3);
};

TEST_F(RestoreRunTest, ProgramListImagesAreWrittenInListOrderUntilOneIsRefused) {
    Run();
    EXPECT_EQ(TestLines(), Join({{"sbl1 partition write done..\n", "tz partition write done..\n",
                                  "rpm partition write done..\n"},
                                 kRestoreEnd}));
    EXPECT_EQ(Flash(*board, 0x100, sbl1.size()), sbl1);
    EXPECT_EQ(ReadFlash(*board, 0x200, 16), scene.Image("tz"));
    EXPECT_EQ(Flash(*board, 0x300, rpm.size()), rpm);
    EXPECT_EQ(WriteAddresses(), (std::vector<uint32_t>{0x100, 0x102, 0x200, 0x202, 0x204, 0x206,
                                                       0x208, 0x20A, 0x20C, 0x20E, 0x300}));
    EXPECT_EQ(rig.view.Statuses(),
              (Lines{"sbl1 partition write done..", "tz partition write done..",
                     "rpm partition write done.."}));
    EXPECT_EQ(rig.record().ending, RunEnding::kCompleted);

    // The board refuses tz's second block: the restore stops there, and tz, partly written, is
    // named as the partition to restore.
    options.faults = {{.kind = sim::FaultKind::kRefuseWrite, .command = 0x07, .skip = 3}};
    board.reset();
    Run();
    EXPECT_EQ(TestLines(),
              (Lines{"sbl1 partition write done..\n", "tz partition write FAIL.. sector 0x200\n",
                     "tz is partly written: run RESTORE BOOT IMG for it before the "
                     "board leaves the bench\n",
                     "TEST aborted!!\n"}));
    EXPECT_EQ(Requests(*board, 0x07).size(), 4u);
    EXPECT_EQ(VerdictOf(rig.record()).text, "ABORTED: the board did not take the write of tz");
    EXPECT_EQ(rig.record().partitionsToRestore, Lines{"tz"});
    EXPECT_TRUE(rig.record().programmerRunning);  // nothing is sent to the board on abort
}

// An image that is missing, does not fit its partition, is not a regular file (it may never end)
// or lies outside the target directory is refused before anything is sent: the flash after the
// partition stays as it was.
TEST_F(RestoreRunTest, ImagesThatCannotBeWrittenWholeAreRefusedBeforeAnythingIsSent) {
    ReadyBoard(board, options);
    const Bytes neighbour = Noise(512, 9);
    ASSERT_TRUE(board->WriteEmmc(0x210 * 512, neighbour));  // the sector after tz
    const fs::path tz = scene.targetDir() / "tz.mbn";
    const struct {
        const char* label;
        std::function<void()> make;
        std::string reason;
        std::string verdict;  // the run at a glance names the file and why
    } cases[] = {
        {"tz", [] {}, "Filename not found. Please check if tz.mbn exist\n", "tz.mbn not found"},
        {"tz", [&] { WriteBytes(tz, Noise(17 * 512, 4)); },
         "tz.mbn is 8704 bytes, larger than the tz partition (8192 bytes); nothing written past "
         "it\n",
         "tz.mbn is larger than its partition"},
        {"tz", [&] { fs::create_symlink("/dev/zero", tz); },
         "tz.mbn is a device, not a regular file; nothing written\n",
         "tz.mbn is not a regular file"},
        {"tz", [&] { ASSERT_EQ(::mkfifo(tz.c_str(), 0600), 0); },
         "tz.mbn is a FIFO, not a regular file; nothing written\n", "tz.mbn is not a regular file"},
        {"evil", [] {}, "../secret.mbn is not a file name in the target directory\n",
         "../secret.mbn is not a file name in the target directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        fs::remove(tz);
        c.make();
        Run(c.label);
        const char* sector = c.label == std::string("tz") ? "0x200" : "0x400";
        EXPECT_EQ(TestLines(),
                  (Lines{c.reason,
                         std::string(c.label) + " partition write FAIL.. sector " + sector + "\n",
                         "TEST aborted!!\n"}));
        EXPECT_TRUE(Requests(*board, 0x07).empty());
        EXPECT_EQ(ReadFlash(*board, 0x210, 1), neighbour);
        EXPECT_EQ(VerdictOf(rig.record()).text, "ABORTED: " + c.verdict);
    }
}

// A partition split in pieces takes its joined image (the pieces with zeros between them, as the
// extraction writes it) piece by piece: the sectors between the pieces belong to another
// partition and keep what they hold. Its room is its own consecutive pieces only, and a partition
// whose sectors another entry claims is not written at all.
TEST_F(RestoreRunTest, SplitPartitionsAreWrittenPieceByPieceAndNeverOverAnother) {
    ReadyBoard(board, options);
    const Bytes other = Noise(16 * 512, 8);
    ASSERT_TRUE(board->WriteEmmc(0x210 * 512, other));
    scene.WritePartitions({{"tz", 0x200, 16}, {"tz", 0x220, 16}, {"rpm", 0x210, 16}}, false);
    const Bytes joined = Noise(48 * 512, 5);
    WriteBytes(scene.targetDir() / "tz.mbn", joined);
    Run("tz");
    EXPECT_EQ(TestLines(), Join({{"tz partition write done..\n"}, kRestoreEnd}));
    EXPECT_EQ(ReadFlash(*board, 0x200, 16), Slice(joined, 0, 16 * 512));
    EXPECT_EQ(ReadFlash(*board, 0x210, 16), other);
    EXPECT_EQ(ReadFlash(*board, 0x220, 16), Slice(joined, 32 * 512, 16 * 512));

    const struct {
        std::vector<Partition> table;
        std::string reason;
    } refused[] = {
        // A later entry of the same label, apart from the first, is not part of its room.
        {{{"tz", 0x200, 4}, {"rpm", 0x204, 16}, {"TZ", 0x214, 32}},
         "tz.mbn is 24576 bytes, larger than the tz partition (2048 bytes); nothing written past "
         "it\n"},
        {{{"tz", 0x200, 48}, {"rpm", 0x210, 16}},
         "tz shares sectors with rpm in partition.txt; nothing written\n"},
        {{{"tz", 0x200, 16}, {"tz", 0x208, 16}},
         "The pieces of tz overlap in partition.txt; nothing written\n"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.reason);
        scene.WritePartitions(c.table, false);
        board->ClearRequestJournal();
        Run("tz");
        EXPECT_EQ(TestLines(), (Lines{c.reason, "tz partition write FAIL.. sector 0x200\n",
                                      "TEST aborted!!\n"}));
        EXPECT_TRUE(Requests(*board, 0x07).empty());
        EXPECT_EQ(ReadFlash(*board, 0x210, 16), other);
    }
}

TEST_F(RestoreRunTest, ChosenLabelMatchesInAnyCaseAndUnknownOnesAreNamed) {
    Run("TZ");
    EXPECT_EQ(TestLines(), Join({{"tz partition write done..\n"}, kRestoreEnd}));
    EXPECT_EQ(ReadFlash(*board, 0x200, 16), scene.Image("tz"));
    EXPECT_EQ(ReadFlash(*board, 0x100, 1), Bytes(512, 0));

    Run("aboot");
    EXPECT_EQ(TestLines(),
              (Lines{"aboot partition is not in partition.txt\n", "TEST aborted!!\n"}));

    // A label's control characters never reach the log raw (a forged line, a colour), and a
    // long one is cut: from rawprogram0.xml, and as typed.
    scene.WriteProgramList(kDloadModel, {"&#27;[31mRED&#10;PASS&#x2028;&#x9B;"});
    Run();
    EXPECT_EQ(TestLines(),
              (Lines{"\\x1B[31mRED\\x0APASS\\u{2028}\\u{009B} partition is not in partition.txt\n",
                     "TEST aborted!!\n"}));
    Run(std::string(100, 'x') + "\xFF");
    EXPECT_EQ(TestLines(), (Lines{std::string(64, 'x') + "... partition is not in partition.txt\n",
                                  "TEST aborted!!\n"}));
    Run("y\xFF");
    EXPECT_EQ(TestLines().front(), "y\\xFF partition is not in partition.txt\n");
}

// A cancel while the board takes a block ends the restore as cancelled, not as a failed write.
TEST_F(RestoreRunTest, CancelDuringAWriteIsNoWriteFailure) {
    options.faults = {{.kind = sim::FaultKind::kStall, .command = 0x07, .skip = 3, .ms = 3000}};
    ReadyBoard(board, options);
    ASSERT_EQ(rig.Start(RestoreRun(scene, kDloadModel, "tz"), kBoardPort), 0);
    ASSERT_TRUE(board->WaitUntil([&] { return Requests(*board, 0x07).size() >= 4; }, 5000));
    rig.engine.Cancel();
    ASSERT_TRUE(rig.WaitForEnd());
    EXPECT_TRUE(rig.record().cancelled);
    EXPECT_EQ(TestLines(), (Lines{"Test cancelled by the operator\n", "TEST aborted!!\n"}));
}

}  // namespace
}  // namespace veltrix::testing
