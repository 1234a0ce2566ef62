// The boot-image restore end to end: image files of the target directory written into the
// simulated board's flash at the sectors partition.txt gives.
#include "diag/boot_restore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "tests/diag/board_run_fixture.h"

namespace veltrix::testing {
namespace {

namespace fs = std::filesystem;
using RestoreRun = BoardRunFixture;

const Lines kRestoreEnd = {"Boot images download completed.\n", "======== END\n", "\n",
                           "Test Completed !!\n"};

Lines Then(Lines lines, const Lines& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

Bytes Prefix(const Bytes& bytes, size_t n) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

class RestoreRunWithImages : public RestoreRun {
protected:
    void SetUp() override {
        RestoreRun::SetUp();
        UsePartitions(
            {{"modem", 0x40, 64}, {"sbl1", 0x100, 8}, {"tz", 0x200, 16}, {"rpm", 0x300, 4}});
        UseProgramList({"sbl1", "tz", "rpm"});
        WriteFile(targetDir / "sbl1.mbn", sbl1);
        WriteFile(targetDir / "tz.mbn", tz);
        WriteFile(targetDir / "rpm.mbn", rpm);
    }
    const Bytes sbl1 = Noise(1300, 1);  // 1024 at 0x100, then 276 at 0x102
    const Bytes tz = Noise(4096, 2);
    const Bytes rpm = Noise(700, 3);
};

TEST_F(RestoreRunWithImages, ProgramListImagesAreWrittenInListOrder) {
    StartBoard();
    Run(Restore());
    EXPECT_EQ(TestLines(), Then({"sbl1 partition write done..\n", "tz partition write done..\n",
                                 "rpm partition write done..\n"},
                                kRestoreEnd));
    EXPECT_EQ(Prefix(ReadFlash(0x100, 3), sbl1.size()), sbl1);
    EXPECT_EQ(ReadFlash(0x200, 8), tz);
    EXPECT_EQ(Prefix(ReadFlash(0x300, 2), rpm.size()), rpm);
    std::vector<uint32_t> addresses;
    for (const Bytes& w : Requests(0x07))
        addresses.push_back(Le32(w, 1));
    EXPECT_EQ(addresses, (std::vector<uint32_t>{0x100, 0x102, 0x200, 0x202, 0x204, 0x206, 0x300}));
    EXPECT_EQ(view.Statuses(), (Lines{"sbl1 partition write done..", "tz partition write done..",
                                      "rpm partition write done.."}));
    EXPECT_EQ(bench.state.record.ending, RunEnding::kCompleted);
}

TEST_F(RestoreRunWithImages, MissingImageFileIsNamedAndEarlierImagesStayWritten) {
    fs::remove(targetDir / "tz.mbn");
    StartBoard();
    Run(Restore());
    EXPECT_EQ(TestLines(), (Lines{"sbl1 partition write done..\n",
                                  "Filename not found. Please check if tz.mbn exist\n",
                                  "tz partition write FAIL.. sector 0x200\n", "TEST aborted!!\n"}));
    EXPECT_EQ(Prefix(ReadFlash(0x100, 3), sbl1.size()), sbl1);
    EXPECT_EQ(ReadFlash(0x300, 2), Bytes(1024, 0));
    EXPECT_NE(console.str().find("Filename not found " + (targetDir / "tz.mbn").string()),
              std::string::npos);
    EXPECT_EQ(bench.state.record.ending, RunEnding::kAborted);
}

// An image that does not fit its partition, or a file that is not a regular file (it may never
// end), is refused before anything is sent: the flash after the partition stays as it was.
TEST_F(RestoreRunWithImages, ImagesThatDoNotFitTheirPartitionAreRefusedBeforeAnythingIsSent) {
    StartBoard();
    const Bytes neighbour = Noise(512, 9);
    WriteFlash(0x210, neighbour);  // the sector after tz
    const struct {
        std::function<void(const fs::path&)> make;
        std::string reason;
    } cases[] = {
        {[&](const fs::path& p) { WriteFile(p, Noise(17 * 512, 4)); },
         "tz.mbn is 8704 bytes, larger than the tz partition (8192 bytes); nothing written past "
         "it\n"},
        {[](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
         "tz.mbn is a device, not a regular file; nothing written\n"},
        {[](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
         "tz.mbn is a FIFO, not a regular file; nothing written\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        fs::remove(targetDir / "tz.mbn");
        c.make(targetDir / "tz.mbn");
        ReadyBoard();
        board->ClearRequestJournal();
        Run(Restore("tz"));
        EXPECT_EQ(TestLines(), (Lines{c.reason, "tz partition write FAIL.. sector 0x200\n",
                                      "TEST aborted!!\n"}));
        EXPECT_TRUE(Requests(0x07).empty());
        EXPECT_EQ(ReadFlash(0x210, 1), neighbour);
    }
}

// A partition split in pieces takes its joined image from the first piece's start up to the last
// piece's end.
TEST_F(RestoreRun, JoinedImageOfASplitPartitionFitsItsPieces) {
    UsePartitions({{"tz", 0x200, 16}, {"tz", 0x220, 16}, {"rpm", 0x230, 4}});
    const Bytes joined = Noise(48 * 512, 5);
    WriteFile(targetDir / "tz.mbn", joined);
    StartBoard();
    Run(Restore("tz"));
    EXPECT_EQ(TestLines(), Then({"tz partition write done..\n"}, kRestoreEnd));
    EXPECT_EQ(ReadFlash(0x200, 48), joined);

    WriteFile(targetDir / "tz.mbn", Noise(49 * 512, 5));
    Run(Restore("tz"));
    EXPECT_EQ(TestLines().at(1), "tz partition write FAIL.. sector 0x200\n");
    EXPECT_EQ(ReadFlash(0x230, 1), Bytes(512, 0));
}

TEST_F(RestoreRunWithImages, ChosenLabelMatchesInAnyCaseAndUnknownOnesAreNamed) {
    StartBoard();
    Run(Restore("TZ"));
    EXPECT_EQ(TestLines(), Then({"tz partition write done..\n"}, kRestoreEnd));
    EXPECT_EQ(ReadFlash(0x200, 8), tz);
    EXPECT_TRUE(Prefix(ReadFlash(0x100, 1), 16) == Bytes(16, 0));

    Run(Restore("aboot"));
    EXPECT_EQ(TestLines(),
              (Lines{"aboot partition is not in partition.txt\n", "TEST aborted!!\n"}));
}

TEST_F(RestoreRun, ImageFilesAreReadOnlyFromInsideTheTargetDirectory) {
    UsePartitions({{"evil", 0x100, 8, "../secret.mbn"}, {"sbl1", 0x200, 8}});
    WriteFile(folder / "secret.mbn", Noise(512, 7));
    StartBoard();
    Run(Restore("evil"));
    EXPECT_EQ(TestLines(),
              (Lines{"../secret.mbn is not a file name in the target directory\n",
                     "evil partition write FAIL.. sector 0x100\n", "TEST aborted!!\n"}));
    EXPECT_TRUE(Requests(0x07).empty());
    EXPECT_EQ(ReadFlash(0x100, 1), Bytes(512, 0));
}

TEST_F(RestoreRunWithImages, RefusedWriteStopsTheRestore) {
    options.faults.push_back({.kind = sim::FaultKind::kRefuseWrite, .command = 0x07, .skip = 2});
    StartBoard();
    Run(Restore());
    EXPECT_EQ(TestLines(), (Lines{"sbl1 partition write done..\n",
                                  "tz partition write FAIL.. sector 0x200\n", "TEST aborted!!\n"}));
    EXPECT_EQ(Requests(0x07).size(), 3u);
}

}  // namespace
}  // namespace veltrix::testing
