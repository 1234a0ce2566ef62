// The eMMC test end to end: runs through the sequencer, the AP check and the streaming commands
// against the simulated board, which holds the flash in a sparse file.
#include "diag/emmc_test.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <thread>

#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "layout/partition_index.h"
#include "tests/diag/board_run_fixture.h"

namespace veltrix::testing {
namespace {

namespace fs = std::filesystem;
using EmmcRun = BoardRunFixture;

const Lines kPassEnd = {"EMMC TEST = pass\n", "======== END\n", "\n", "Test Completed !!\n"};

Lines Then(Lines lines, const Lines& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

Bytes Pattern(size_t from, size_t count) {
    return Bytes(emmcTestPattern.begin() + from, emmcTestPattern.begin() + from + count);
}

// READ requests as (sector, length).
std::vector<std::pair<uint32_t, uint32_t>> Reads(const std::vector<Bytes>& requests) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const Bytes& r : requests)
        out.emplace_back(Le32(r, 1), r[5] | r[6] << 8);
    return out;
}

TEST_F(EmmcRun, DumpReadsEverySectorIntoAFileEqualToTheFlash) {
    const std::string label = "bootloader_partition_long";  // more than 19 characters
    UsePartitions({{"other", 10, 50}, {label, 100, 3}});
    StartBoard();
    // Sectors of nothing but flag and escape bytes travel nearly doubled; they are good data.
    const Bytes content = [] {
        Bytes b = Noise(512, 1);
        b.insert(b.end(), 512, 0x7E);
        b.insert(b.end(), 512, 0x7D);
        return b;
    }();
    WriteFlash(100, content);
    Run(EmmcTest("Erase", label, true));  // "dump" reads, whatever the option says

    const Lines all = view.Lines();
    ASSERT_GE(all.size(), 10u);
    EXPECT_EQ(Lines(all.begin(), all.begin() + 2), (Lines{"[Tamsin (APQ8064)]\n", "\n"}));
    EXPECT_EQ(Lines(all.begin() + 8, all.begin() + 10),
              (Lines{"======== EMMC TEST START\n", "total sector size = 0x20000\n"}));
    EXPECT_EQ(TestLines(), Then({label + " partition read done..\n"}, kPassEnd));
    EXPECT_EQ(Reads(Requests(0x03)),
              (std::vector<std::pair<uint32_t, uint32_t>>{{100, 512}, {101, 512}, {102, 512}}));
    EXPECT_EQ(ReadFile(DumpFolder() / (label + ".dump")), content);
    EXPECT_EQ(bench.state.record.dumpFiles,
              (std::vector<fs::path>{DumpFolder() / (label + ".dump")}));
    EXPECT_EQ(ReadFlash(100, 3), content);
    EXPECT_FALSE(fs::exists(DumpFolder() / (label + ".dump.tmp")));
    EXPECT_EQ(view.Statuses(),
              (Lines{"Reading " + label + " partition..", label + " partition read done.."}));
    EXPECT_EQ(view.ProgressValues(), (std::vector<int>{33, 66, 100}));
    EXPECT_EQ(bench.state.record.ending, RunEnding::kCompleted);
    EXPECT_EQ(view.Result(ResultBox::kEmmc), "PASS");
}

TEST_F(EmmcRun, ReadCheckCoversEachPartitionOfTheListIn5MiBRequests) {
    UsePartitions({{"exact", 0x100, 0x2800}, {"longer", 0x3000, 0x2801}, {"unused", 0x9000, 4}});
    UseProgramList({"exact", "longer"});
    StartBoard();
    Run(EmmcTest("Read only"));
    EXPECT_EQ(TestLines(),
              Then({"exact partition read done..\n", "longer partition read done..\n"}, kPassEnd));
    const auto checks = Requests(0x25);
    ASSERT_EQ(checks.size(), 3u);
    EXPECT_EQ(std::make_pair(Le32(checks[0], 1), Le32(checks[0], 5)),
              std::make_pair(0x100u, 0x500000u));
    EXPECT_EQ(std::make_pair(Le32(checks[1], 1), Le32(checks[1], 5)),
              std::make_pair(0x3000u, 0x500000u));
    EXPECT_EQ(std::make_pair(Le32(checks[2], 1), Le32(checks[2], 5)),
              std::make_pair(0x5800u, 512u));
    EXPECT_TRUE(Requests(0x03).empty());
    EXPECT_TRUE(Requests(0x07).empty());
}

TEST_F(EmmcRun, ReadWriteFindsTheLabelInAnyCaseAndLeavesThePatternVerified) {
    UsePartitions({{"sbl1", 0x200, 8}});
    StartBoard();
    WriteFlash(0x202, Noise(512, 9));
    Run(EmmcTest("Read/Write", "SBL1"));
    EXPECT_EQ(
        TestLines(),
        Then({"sbl1 partition read done..\n", "sbl1 partition write & verify done..\n"}, kPassEnd));
    EXPECT_EQ(ReadFlash(0x200, 2), Pattern(0, 1024));
    EXPECT_EQ(ReadFlash(0x202, 1), Noise(512, 9));
    EXPECT_EQ(Reads(Requests(0x03)),
              (std::vector<std::pair<uint32_t, uint32_t>>{{0x200, 512}, {0x201, 512}}));
    EXPECT_EQ(view.Statuses().back(), "sbl1 partition write & verify done..");
}

TEST_F(EmmcRun, OneSectorPartitionsGetOneSectorOfPatternAndNothingBeyond) {
    const uint32_t last = (64u << 20) / 512 - 1;
    UsePartitions({{"mid", 0x400, 1}, {"last", last, 1}});
    UseProgramList({"mid", "last"});
    StartBoard();
    WriteFlash(0x401, Noise(512, 4));  // the next partition's first sector
    Run(EmmcTest("Write only"));
    EXPECT_EQ(TestLines(), Then({"mid partition write & verify done..\n",
                                 "last partition write & verify done..\n"},
                                kPassEnd));
    EXPECT_EQ(ReadFlash(0x400, 1), Pattern(0, 512));
    EXPECT_EQ(ReadFlash(0x401, 1), Noise(512, 4));
    EXPECT_EQ(ReadFlash(last, 1), Pattern(0, 512));
    const auto writes = Requests(0x07);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(Le32(writes[1], 1), last);
    EXPECT_EQ(Reads(Requests(0x03)),
              (std::vector<std::pair<uint32_t, uint32_t>>{{0x400, 512}, {last, 512}}));
}

TEST_F(EmmcRun, LabelMissingFromTheIndexFailsAfterTheEarlierPartitions) {
    UsePartitions({{"a", 0x100, 4}, {"b", 0x200, 4}, {"c", 0x300, 4}});
    UseProgramList({"a", "b", "missing", "c"});
    StartBoard();
    Run(EmmcTest("Read only"));
    EXPECT_EQ(TestLines(),
              (Lines{"a partition read done..\n", "b partition read done..\n",
                     "Please select the valid target directory!\n", "TEST aborted!!\n"}));
    EXPECT_EQ(Requests(0x25).size(), 2u);
    EXPECT_EQ(view.Result(ResultBox::kEmmc), "FAIL");
    EXPECT_EQ(bench.state.record.ending, RunEnding::kAborted);
}

TEST_F(EmmcRun, ReadFailureOfReadWriteSkipsTheWrite) {
    UsePartitions({{"boot", 0x64, 8}});
    options.faults.push_back({.kind = sim::FaultKind::kRefuseWrite, .command = 0x25});
    StartBoard();
    Run(EmmcTest("Read/Write", "boot"));
    EXPECT_EQ(TestLines(), (Lines{"boot partition 0x64 read FAIL !!\n", "TEST aborted!!\n"}));
    EXPECT_TRUE(Requests(0x07).empty());
    EXPECT_EQ(view.Result(ResultBox::kEmmc), "FAIL");
}

TEST_F(EmmcRun, EraseIgnoresThePartitionAndReportsARefusal) {
    UsePartitions({{"boot", 0x64, 8}});
    StartBoard();
    WriteFlash(0x64, Noise(1024, 2));
    Run(EmmcTest("Erase", "boot"));
    EXPECT_EQ(TestLines(), Then({"Flash erased!\n"}, kPassEnd));
    EXPECT_EQ(ReadFlash(0x64, 2), Bytes(1024, 0));
    EXPECT_TRUE(Requests(0x25).empty());

    ReadyBoard();
    board->InjectFault({.kind = sim::FaultKind::kRefuseWrite, .command = 0x1D});
    Run(EmmcTest("Erase", "boot"));
    EXPECT_EQ(TestLines(), (Lines{"Flash erase FAIL. Please retry.\n", "TEST aborted!!\n"}));
    EXPECT_EQ(view.Result(ResultBox::kEmmc), "FAIL");
}

// A READ answer cut short or naming another sector is a failed read: its bytes never reach the
// dump, nor a comparison.
TEST_F(EmmcRun, ShortOrForeignReadRepliesFailTheReadAndLeaveNoDump) {
    UsePartitions({{"boot", 0x64, 4}});
    StartBoard();
    WriteFlash(0x64, Noise(2048, 5));
    const fs::path dump = DumpFolder() / "boot.dump";
    for (const auto kind : {sim::FaultKind::kShortReply, sim::FaultKind::kOtherAddress}) {
        ReadyBoard();
        board->InjectFault({.kind = kind, .command = 0x03, .skip = 1});
        Run(EmmcTest("Read only", "boot", true));
        EXPECT_EQ(TestLines(), (Lines{"boot partition 0x65 read FAIL !!\n", "TEST aborted!!\n"}));
        EXPECT_FALSE(fs::exists(dump));
        EXPECT_FALSE(fs::exists(dump.string() + ".tmp"));
    }
    // The read-back of the pattern: the right bytes under another address do not verify.
    ReadyBoard();
    board->InjectFault({.kind = sim::FaultKind::kOtherAddress, .command = 0x03});
    Run(EmmcTest("Write only", "boot"));
    EXPECT_EQ(TestLines(), (Lines{"boot partition 0x64 read FAIL !!\n", "TEST aborted!!\n"}));
    EXPECT_NE(console.str().find("READ reply for address 0x65, asked 0x64"), std::string::npos);
}

TEST_F(EmmcRun, DumpThatCannotBeCreatedOrWrittenFailsAndLeavesNoCompleteLookingFile) {
    UsePartitions({{"boot", 0x64, 2048}});
    StartBoard();
    WriteFlash(0x64, Noise(2048 * 512, 6));
    // A missing dump folder is the PC's matter, not the board's: it is made.
    fs::remove_all(DumpFolder());
    Run(EmmcTest("Read only", "boot", true));
    const fs::path dump = DumpFolder() / "boot.dump";
    EXPECT_EQ(ReadFile(dump), ReadFlash(0x64, 2048));
    EXPECT_EQ(bench.state.record.ending, RunEnding::kCompleted);

    // A FIFO at the dump's name is never replaced: nothing is read from the board.
    fs::remove(dump);
    ASSERT_EQ(::mkfifo(dump.c_str(), 0600), 0);
    ReadyBoard();
    board->ClearRequestJournal();
    Run(EmmcTest("Read only", "boot", true));
    const Lines fifo = TestLines();
    ASSERT_EQ(fifo.size(), 3u);
    EXPECT_TRUE(fifo[0].starts_with("Cannot create dump file ")) << fifo[0];
    EXPECT_NE(fifo[0].find("a FIFO"), std::string::npos) << fifo[0];
    EXPECT_EQ(Lines(fifo.begin() + 1, fifo.end()),
              (Lines{"boot partition 0x64 read FAIL !!\n", "TEST aborted!!\n"}));
    EXPECT_TRUE(Requests(0x03).empty());
    EXPECT_TRUE(fs::is_fifo(dump));
    fs::remove(dump);

    // A file that cannot be written whole (the size limit stands in for a full disk): no partial
    // dump appears, and an older dump of that name (another board's) is gone, so it cannot pass
    // for this board's.
    WriteFile(dump, Bytes(100, 1));
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 200 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    Run(EmmcTest("Read only", "boot", true));
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    const Lines full = TestLines();
    ASSERT_EQ(full.size(), 3u);
    EXPECT_TRUE(full[0].starts_with("Cannot write dump file ")) << full[0];
    EXPECT_EQ(full[1], "boot partition 0x64 read FAIL !!\n");
    EXPECT_FALSE(fs::exists(dump));
    EXPECT_EQ(fs::directory_iterator(DumpFolder()), fs::directory_iterator());
    EXPECT_TRUE(bench.state.record.dumpFiles.empty());
}

// Sector counts of 4 GiB and more, sector numbers near the 32-bit end, and empty partitions.
TEST_F(EmmcRun, LargeAndEmptyPartitionsAreCountedIn64Bits) {
    options.emmcSize = 5ull << 30;  // sparse
    UsePartitions({{"empty", 0x800, 0},
                   {"huge", 0x1000, 0x800001},  // 4 GiB and one sector
                   {"wraps", 0xFFFFFF00u, 0x200}});
    UseProgramList({"empty", "huge"});
    StartBoard();
    Run(EmmcTest("Read/Write"));
    EXPECT_EQ(TestLines(),
              Then({"empty partition has no sectors, read skipped\n",
                    "empty partition has no sectors, write skipped\n",
                    "huge partition read done..\n", "huge partition write & verify done..\n"},
                   kPassEnd));
    const auto checks = Requests(0x25);
    ASSERT_EQ(checks.size(), 820u);  // 819 of 5 MiB, then the rest
    uint64_t bytes = 0;
    uint32_t next = 0x1000;
    for (const Bytes& c : checks) {
        EXPECT_EQ(Le32(c, 1), next);
        ASSERT_GT(Le32(c, 5), 0u);
        next += Le32(c, 5) / 512;
        bytes += Le32(c, 5);
    }
    EXPECT_EQ(bytes, 0x800001ull * 512);
    EXPECT_EQ(Le32(checks.back(), 5), 0x100200u);
    ASSERT_EQ(Requests(0x07).size(), 1u);
    EXPECT_EQ(Le32(Requests(0x07)[0], 1), 0x1000u);

    Run(EmmcTest("Read only", "wraps"));
    EXPECT_EQ(TestLines(),
              (Lines{"wraps partition runs past sector 0xffffffff\n",
                     "wraps partition 0xffffff00 read FAIL !!\n", "TEST aborted!!\n"}));
}

TEST_F(EmmcRun, CancelStopsALongDumpPromptlyAsAnAbortedRun) {
    UsePartitions({{"big", 0x100, 0x10000}});
    StartBoard();
    view.ClearLog();
    ResetRunDisplay(bench);
    ASSERT_EQ(LoadPartitionIndex(bench.index, targetDir, view), 0);
    ASSERT_EQ(PrepareRun(bench, EmmcTest("Read only", "big", true), options.portNumber),
              kPrepareReady);
    ASSERT_EQ(StartRun(bench), 0);
    ASSERT_TRUE(board->WaitUntil([&] { return Requests(0x03).size() >= 50; }, 20000));
    CancelRun(bench);
    JoinWorker(bench);
    EXPECT_LT(Requests(0x03).size(), 2000u);
    EXPECT_TRUE(bench.state.record.cancelled);
    EXPECT_EQ(bench.state.record.ending, RunEnding::kAborted);
    EXPECT_EQ(view.Result(ResultBox::kEmmc), "N/T");  // a cancel says nothing about the flash
    EXPECT_EQ(TestLines(), (Lines{"Test cancelled by the operator\n", "TEST aborted!!\n"}));
    EXPECT_FALSE(fs::exists(DumpFolder() / "big.dump"));
    EXPECT_FALSE(fs::exists(DumpFolder() / "big.dump.tmp"));
}

}  // namespace
}  // namespace veltrix::testing
