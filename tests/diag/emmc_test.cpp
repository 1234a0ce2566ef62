// The eMMC test in whole runs through the engine, against the simulated board whose flash is a
// sparse file: what is read, written and compared, the dump files, and the failures.
#include "diag/emmc_test.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>

#include "tests/support/scene_board.h"

namespace veltrix::testing {
namespace {

namespace fs = std::filesystem;
using Spans = std::vector<std::pair<uint32_t, uint32_t>>;

const Lines kPassEnd = {"EMMC TEST = pass\n", "======== END\n", "\n", "Test Completed !!\n"};

// The end of a passed write test: it names the partitions that keep its pattern.
Lines PatternEnd(const std::string& labels) {
    return {"EMMC TEST = pass\n", "======== END\n", "\n",
            "Test pattern left in " + labels + ": run RESTORE BOOT IMG to put their images back\n",
            "Test Completed !!\n"};
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

Bytes Pattern(size_t from, size_t count) {
    return Bytes(emmcTestPattern.begin() + from, emmcTestPattern.begin() + from + count);
}

// READ requests as (sector, length); READ CHECK requests as (sector, bytes).
Spans Reads(const std::vector<Bytes>& requests) {
    Spans out;
    for (const Bytes& r : requests) {
        out.emplace_back(Le32(r, 1), r[0] == 0x03 ? r[5] | r[6] << 8 : Le32(r, 5));
    }
    return out;
}

std::vector<uint32_t> Addresses(const std::vector<Bytes>& requests) {
    std::vector<uint32_t> out;
    for (const Bytes& r : requests) {
        out.push_back(Le32(r, 1));
    }
    return out;
}

class EmmcRunTest : public SceneRunTest {
protected:
    void Use(const std::vector<Partition>& partitions, const Lines& programList = {}) {
        scene.WriteModel(kDloadModel, programList);
        scene.WritePartitions(partitions, false);
        options = BoardFor(scene, kDloadModel);
    }
    void Run(const std::string& option, const std::string& label = "", bool dump = false,
             int window = kDefaultReadWindow) {
        RunSelections s = EmmcRun(scene, kDloadModel, option, label, dump);
        s.readWindow = window;
        SceneRunTest::Run(s);
    }
    // The log after the sector-total line.
    Lines TestLines() const { return rig.After("total sector size"); }
    fs::path Dump(const std::string& label) const {
        return scene.ModelFolder(kDloadModel) / "dump" / (label + ".dump");
    }
};

TEST_F(EmmcRunTest, DumpReadsEverySectorIntoAFileEqualToTheFlash) {
    const std::string label = "bootloader_partition_long";  // more than 19 characters
    Use({{"other", 10, 50}, {label, 100, 3}});
    ReadyBoard(board, options);
    // Sectors of nothing but flag and escape bytes travel nearly doubled; they are good data.
    Bytes content = Noise(512);
    content.insert(content.end(), 512, 0x7E);
    content.insert(content.end(), 512, 0x7D);
    ASSERT_TRUE(board->WriteEmmc(100 * 512, content));
    Run("Erase", label, true);  // a dump reads, whatever the option says
    EXPECT_EQ(rig.view.Lines(),
              Join({{"[Tamsin (APQ8064)]\n", "\n"},
                    kApCheckPass,
                    {"======== EMMC TEST START\n", "total sector size = 0x20000\n",
                     label + " partition read done..\n"},
                    kPassEnd,
                    {"Elapsed Time : 0 hours 0 minutes 2 seconds\n"}}));
    EXPECT_EQ(Reads(Requests(*board, 0x03)), (Spans{{100, 512}, {101, 512}, {102, 512}}));
    EXPECT_EQ(ReadBytes(Dump(label)), content);
    EXPECT_EQ(rig.record().dumpFiles, std::vector<fs::path>{Dump(label)});
    EXPECT_EQ(ReadFlash(*board, 100, 3), content);
    EXPECT_EQ(ListFolder(Dump(label).parent_path()), Lines{label + ".dump"});
    EXPECT_EQ(rig.view.Statuses(),
              (Lines{"Reading " + label + " partition..", label + " partition read done.."}));
    EXPECT_EQ(rig.view.ProgressValues(), (std::vector<int>{33, 66, 100}));
    EXPECT_TRUE(rig.record().Passed());
}

// A partition split in pieces is read piece by piece: its dump is laid out as the extraction lays
// out its image (zeros where another partition lies between the pieces), and the read check
// covers each piece and nothing between them.
TEST_F(EmmcRunTest, SplitPartitionIsReadPieceByPiece) {
    Use({{"modem", 0x200, 4}, {"modem", 0x208, 4}, {"other", 0x204, 4}});
    ReadyBoard(board, options);
    const Bytes first = Noise(4 * 512, 41), between = Noise(4 * 512, 42),
                second = Noise(4 * 512, 43);
    ASSERT_TRUE(board->WriteEmmc(0x200 * 512, Join({first, between, second})));
    Run("Read only", "modem", true);
    EXPECT_TRUE(rig.record().Passed());
    EXPECT_EQ(ReadBytes(Dump("modem")), Join({first, Bytes(4 * 512, 0), second}));
    board->ClearRequestJournal();
    Run("Read only", "modem");
    EXPECT_EQ(Reads(Requests(*board, 0x25)), (Spans{{0x200, 2048}, {0x208, 2048}}));
}

// READ CHECK in 5 MiB ranges: a partition of exactly one range, one of 4 GiB and a sector, one
// of no sectors, and one whose sector numbers would run past 32 bits.
TEST_F(EmmcRunTest, ReadCheckCoversEachListedPartitionIn5MiBRangesCountedIn64Bits) {
    Use({{"empty", 0x50, 0},
         {"exact", 0x100, 0x2800},
         {"unused", 0x2900, 4},
         {"huge", 0x3000, 0x800001},
         {"wraps", 0xFFFFFF00u, 0x200}},
        {"empty", "exact", "huge"});
    options.emmcSize = 5ull << 30;  // sparse
    Run("Read/Write");
    EXPECT_EQ(TestLines(),
              Join({{"empty partition has no sectors, read skipped\n",
                     "empty partition has no sectors, write skipped\n",
                     "exact partition read done..\n", "exact partition write & verify done..\n",
                     "huge partition read done..\n", "huge partition write & verify done..\n"},
                    PatternEnd("exact, huge")}));
    const Spans checks = Reads(Requests(*board, 0x25));
    ASSERT_EQ(checks.size(), 821u);  // one, then 819 of 5 MiB and the rest
    EXPECT_EQ(checks[0], std::make_pair(0x100u, 0x500000u));
    uint64_t bytes = 0;
    for (size_t i = 1; i < checks.size(); ++i) {
        EXPECT_EQ(checks[i].first, 0x3000 + bytes / 512);
        ASSERT_GT(checks[i].second, 0u);
        bytes += checks[i].second;
    }
    EXPECT_EQ(bytes, 0x800001ull * 512);
    EXPECT_EQ(checks.back().second, 0x100200u);
    EXPECT_EQ(Addresses(Requests(*board, 0x07)), (std::vector<uint32_t>{0x100, 0x3000}));

    Run("Read only", "wraps");
    EXPECT_EQ(TestLines(),
              (Lines{"wraps partition runs past sector 0xffffffff\n",
                     "wraps partition 0xffffff00 read FAIL !!\n", "TEST aborted!!\n"}));
}

TEST_F(EmmcRunTest, ReadWriteFindsTheLabelInAnyCaseAndLeavesThePatternVerified) {
    Use({{"sbl1", 0x200, 8}});
    ReadyBoard(board, options);
    ASSERT_TRUE(board->WriteEmmc(0x202 * 512, Noise(512, 9)));
    Run("Read/Write", "SBL1");
    EXPECT_EQ(TestLines(),
              Join({{"sbl1 partition read done..\n", "sbl1 partition write & verify done..\n"},
                    PatternEnd("sbl1")}));
    EXPECT_EQ(ReadFlash(*board, 0x200, 2), Pattern(0, 1024));
    EXPECT_EQ(ReadFlash(*board, 0x202, 1), Noise(512, 9));
    EXPECT_EQ(Reads(Requests(*board, 0x03)), (Spans{{0x200, 512}, {0x201, 512}}));
    EXPECT_EQ(rig.view.Statuses().back(), "sbl1 partition write & verify done..");
}

// A partition of one sector, and one that partition.txt makes longer than the device, get one
// sector of the pattern: nothing lands in the next partition or past the flash's end.
TEST_F(EmmcRunTest, PatternStaysInsideThePartitionAndTheDevice) {
    const uint32_t last = (64u << 20) / 512 - 1;
    Use({{"mid", 0x400, 1}, {"last", last, 2}}, {"mid", "last"});
    ReadyBoard(board, options);
    ASSERT_TRUE(board->WriteEmmc(0x401 * 512, Noise(512, 4)));  // the next partition's
    Run("Write only");
    EXPECT_EQ(
        TestLines(),
        Join({{"mid partition write & verify done..\n", "last partition write & verify done..\n"},
              PatternEnd("mid, last")}));
    EXPECT_EQ(rig.record().patternLeftIn, (Lines{"mid", "last"}));
    EXPECT_EQ(AdviceOf(rig.record()),
              Lines{"the test pattern is in mid, last: run RESTORE BOOT IMG to put their images "
                    "back"});
    EXPECT_EQ(ReadFlash(*board, 0x400, 1), Pattern(0, 512));
    EXPECT_EQ(ReadFlash(*board, 0x401, 1), Noise(512, 4));
    EXPECT_EQ(ReadFlash(*board, last, 1), Pattern(0, 512));
    EXPECT_EQ(Addresses(Requests(*board, 0x07)), (std::vector<uint32_t>{0x400, last}));
    EXPECT_EQ(Reads(Requests(*board, 0x03)), (Spans{{0x400, 512}, {last, 512}}));
}

TEST_F(EmmcRunTest, LabelMissingFromTheIndexFailsAfterTheEarlierPartitions) {
    Use({{"a", 0x100, 4}, {"b", 0x200, 4}, {"c", 0x300, 4}}, {"a", "b", "missing", "c"});
    Run("Read only");
    EXPECT_EQ(TestLines(),
              (Lines{"a partition read done..\n", "b partition read done..\n",
                     "Please select the valid target directory!\n", "TEST aborted!!\n"}));
    EXPECT_EQ(Requests(*board, 0x25).size(), 2u);
    EXPECT_EQ(rig.view.Result(ResultBox::kEmmc), "FAIL");
    EXPECT_EQ(rig.record().ending, RunEnding::kAborted);
}

TEST_F(EmmcRunTest, EraseIgnoresThePartitionAndClearsTheFlash) {
    Use({{"boot", 0x64, 8}});
    ReadyBoard(board, options);
    ASSERT_TRUE(board->WriteEmmc(0x64 * 512, Noise(1024, 2)));
    Run("Erase", "boot");
    EXPECT_EQ(TestLines(), Join({{"Flash erased!\n"}, kPassEnd}));
    EXPECT_EQ(ReadFlash(*board, 0x64, 2), Bytes(1024, 0));
    EXPECT_TRUE(Requests(*board, 0x25).empty());
}

// A refused request, or a READ answer cut short or naming another sector, fails the test when
// sectors are read one per exchange: no bytes of it reach a dump or a comparison, and nothing is
// written after a failed read.
TEST_F(EmmcRunTest, RefusedShortOrForeignRepliesFailTheTestAndLeaveNoDump) {
    Use({{"boot", 0x64, 4}});
    ReadyBoard(board, options);
    ASSERT_TRUE(board->WriteEmmc(0x64 * 512, Noise(2048, 5)));
    using enum sim::FaultKind;
    const struct {
        const char* option;
        bool dump;
        sim::Fault fault;
        const char* line;
    } cases[] = {
        {"Read/Write", false, FaultOn(kRefuseWrite, 0x25), "boot partition 0x64 read FAIL !!\n"},
        {"Erase", false, FaultOn(kRefuseWrite, 0x1D), "Flash erase FAIL. Please retry.\n"},
        {"Read only", true, FaultOn(kShortReply, 0x03, 1), "boot partition 0x65 read FAIL !!\n"},
        {"Read only", true, FaultOn(kOtherAddress, 0x03, 1), "boot partition 0x65 read FAIL !!\n"},
        // The read-back of the pattern: the right bytes under another address do not verify.
        {"Write only", false, FaultOn(kOtherAddress, 0x03), "boot partition 0x64 read FAIL !!\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ReadyBoard(board, options);
        board->InjectFault(c.fault);
        Run(c.option, "boot", c.dump, /*window=*/1);
        const bool written = c.option == std::string("Write only");
        const Lines left = {
            "Test pattern left in boot: run RESTORE BOOT IMG to put their images "
            "back\n"};
        EXPECT_EQ(TestLines(), Join({{c.line}, written ? left : Lines{}, {"TEST aborted!!\n"}}));
        EXPECT_EQ(rig.view.Result(ResultBox::kEmmc), "FAIL");
        EXPECT_EQ(Requests(*board, 0x07).empty(), c.option != std::string("Write only"));
        EXPECT_TRUE(ListFolder(Dump("boot").parent_path()).empty());
    }
    EXPECT_NE(rig.console.str().find("READ reply for address 0x65, asked 0x64"), std::string::npos);
}

// A dump the PC cannot make is no failure of the board: the run ends as aborted naming the PC's
// fault, the EMMC box keeps "N/T", no partial dump appears, and an older dump of that name
// (another board's) is gone, so it cannot pass for this board's. A missing dump folder is made.
TEST_F(EmmcRunTest, DumpThePcCannotMakeEndsTheRunNamingThePcNotTheBoard) {
    Use({{"boot", 0x64, 2048}});
    ReadyBoard(board, options);
    ASSERT_TRUE(board->WriteEmmc(0x64 * 512, Noise(2048 * 512, 6)));
    const fs::path dump = Dump("boot");
    fs::remove_all(dump.parent_path());
    Run("Read only", "boot", true);
    EXPECT_EQ(ReadBytes(dump), ReadFlash(*board, 0x64, 2048));
    EXPECT_EQ(rig.record().ending, RunEnding::kCompleted);

    const TempFolder elsewhere;
    const struct {
        const char* name;
        std::function<void()> plant;
        std::string line;    // the start of the first line after the sector total
        std::string reason;  // the record's abort reason
        bool read;           // the board was asked for data
    } cases[] = {
        {"FIFO", [&] { ASSERT_EQ(::mkfifo(dump.c_str(), 0600), 0); },
         "Cannot create dump file " + dump.string() + " (a FIFO is there",
         "cannot create the dump: a FIFO is there, not a regular file", false},
        {"folder is a link",
         [&] {
             fs::remove_all(dump.parent_path());
             fs::create_symlink(elsewhere.path(), dump.parent_path());
             WriteBytes(elsewhere.path() / "boot.dump", Bytes(100, 1));
         },
         "Cannot create dump file " + dump.string() + " (the dump folder",
         "cannot create the dump: the dump folder " + dump.parent_path().string() +
             " is a symbolic link",
         false},
        // The file-size limit stands in for a full disk.
        {"file-size limit", [&] { WriteBytes(dump, Bytes(100, 1)); },
         "Cannot write dump file " + dump.string() + " (File too large)",
         "cannot write the dump: File too large", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dump.parent_path());
        fs::create_directories(dump.parent_path());
        c.plant();
        ReadyBoard(board, options);
        board->ClearRequestJournal();
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto oldHandler = signal(SIGXFSZ, SIG_IGN);  // as every program of the system does
        rlimit small = saved;
        small.rlim_cur = 200 * 1024;
        setrlimit(RLIMIT_FSIZE, &small);
        Run("Read only", "boot", true);
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, oldHandler);
        const Lines lines = TestLines();
        ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(lines);
        EXPECT_TRUE(lines[0].starts_with(c.line)) << lines[0];
        EXPECT_EQ(lines[1], "TEST aborted!!\n");
        EXPECT_EQ(rig.record().abortReason, c.reason);
        EXPECT_EQ(VerdictOf(rig.record()).text, "ABORTED: " + c.reason);
        EXPECT_EQ(rig.view.Result(ResultBox::kEmmc), "N/T");
        EXPECT_EQ(Requests(*board, 0x03).empty(), !c.read);
        EXPECT_TRUE(rig.record().dumpFiles.empty());
    }
    EXPECT_EQ(ListFolder(elsewhere.path()), Lines{"boot.dump"});  // nothing written nor removed
    // A board that drops off the bus during the dump: "port lost", not a FAIL of its eMMC.
    ReadyBoard(board, options);
    board->InjectFault({.kind = sim::FaultKind::kVanish, .command = 0x03, .skip = 5, .ms = 300});
    Run("Read only", "boot", true);
    const Lines lost = TestLines();
    ASSERT_EQ(lost.size(), 2u) << ::testing::PrintToString(lost);
    EXPECT_TRUE(lost[0].starts_with("Serial port lost: COM14 (")) << lost[0];
    EXPECT_EQ(rig.record().abortReason, "port lost");
    EXPECT_EQ(rig.view.Result(ResultBox::kEmmc), "N/T");
    EXPECT_TRUE(ListFolder(dump.parent_path()).empty());
}

// A cancel stops a long dump promptly, one READ at a time or with READs in flight over a slow
// line: an aborted run, no dump, the box left alone.
TEST_F(EmmcRunTest, CancelStopsALongDumpPromptlyAsAnAbortedRun) {
    Use({{"big", 0x100, 0x10000}});
    for (const int window : {1, kDefaultReadWindow}) {
        SCOPED_TRACE(window);
        options.linkLatencyUs = window > 1 ? 300000 : 0;  // answers a third of a second late
        board.reset();
        ReadyBoard(board, options);
        RunSelections s = EmmcRun(scene, kDloadModel, "Read only", "big", true);
        s.readWindow = window;
        ASSERT_EQ(rig.Start(s, kBoardPort), 0);
        const size_t inFlight = window > 1 ? 2 + window : 50;  // the probe's, then the window's
        ASSERT_TRUE(
            board->WaitUntil([&] { return Requests(*board, 0x03).size() >= inFlight; }, 20000));
        const auto start = std::chrono::steady_clock::now();
        rig.engine.Cancel();
        ASSERT_TRUE(rig.WaitForEnd());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_LT(Requests(*board, 0x03).size(), 2000u);
        EXPECT_TRUE(rig.record().cancelled);
        EXPECT_EQ(rig.record().ending, RunEnding::kAborted);
        EXPECT_EQ(rig.view.Result(ResultBox::kEmmc), "N/T");  // a cancel says nothing of the flash
        EXPECT_EQ(TestLines(), (Lines{"Test cancelled by the operator\n", "TEST aborted!!\n"}));
        EXPECT_TRUE(ListFolder(Dump("big").parent_path()).empty());
    }
}

// Over a line with USB's latency a dump keeps several READs in flight, each sector asked once and
// the file byte-exact; a programmer that takes one request at a time is found out by the probe
// (its second READ is dropped unanswered) and read one sector per exchange, said once; a window of
// one asks one sector per exchange from the start.
TEST_F(EmmcRunTest, DumpKeepsReadsInFlightWhereTheBoardTakesThem) {
    Use({{"modem", 0x100, 64}});
    const Bytes content = Noise(64 * 512, 31);
    const std::string oneAtATime = "reading one sector per exchange for the rest of the run";
    const struct {
        const char* name;
        bool oneRequestAtATime;
        int window;
    } cases[] = {
        {"window", false, kDefaultReadWindow},
        {"one request at a time", true, kDefaultReadWindow},
        {"window of one", false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        options.linkLatencyUs = 2000;
        options.oneRequestAtATime = c.oneRequestAtATime;
        board.reset();
        ReadyBoard(board, options);
        ASSERT_TRUE(board->WriteEmmc(0x100 * 512, content));
        rig.console.str("");
        Run("Read only", "modem", true, c.window);
        EXPECT_TRUE(rig.record().Passed()) << rig.console.str();
        EXPECT_EQ(ReadBytes(Dump("modem")), content);
        EXPECT_EQ(Requests(*board, 0x03).size(), 64u);  // taken and answered once each
        EXPECT_EQ(Has(rig.console.str(), oneAtATime), c.oneRequestAtATime) << rig.console.str();
    }
}

}  // namespace
}  // namespace veltrix::testing
