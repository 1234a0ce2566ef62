#include "layout/image_extraction.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "layout/partition_index.h"
#include "link/serial_link.h"
#include "tests/layout/layout_test_support.h"

namespace veltrix {
namespace {

using testing::ListDir;
using testing::PatternBytes;
using testing::ReadFileBytes;
using testing::RecordingLogView;
using testing::TempDir;
using testing::TestImage;
using testing::TestRecord;
using testing::WriteFileBytes;
using testing::WriteTestImage;
using Lines = std::vector<std::string>;

constexpr const char* kCompleted = "completed.  ";

class ExtractionTest : public ::testing::Test {
protected:
    ExtractionTest() { std::filesystem::create_directory(out); }

    int Extract(const TestImage& image) {
        WriteTestImage(bin, image);
        return ExtractTotalImage(bin, out, view);
    }
    PartitionIndex LoadIndex() {
        PartitionIndex index;
        RecordingLogView quiet;
        EXPECT_EQ(LoadPartitionIndex(index, out, quiet), kErrorSuccess);
        return index;
    }
    bool Completed() const { return view.messages == Lines{kCompleted}; }

    TempDir dir;
    std::filesystem::path bin = dir / "total.bin";
    std::filesystem::path out = dir / "out";
    RecordingLogView view;
};

TEST_F(ExtractionTest, TableTerminatedAtOnce) {
    EXPECT_EQ(Extract({}), kErrorSuccess);
    EXPECT_EQ(ListDir(out), Lines{"partition.txt"});
    EXPECT_EQ(std::filesystem::file_size(out / "partition.txt"), 0u);
    EXPECT_TRUE(view.lines.empty());
    EXPECT_TRUE(Completed());
}

TEST_F(ExtractionTest, PartitionsBecomeFilesAndIndexRecords) {
    view.lines = {"older line"};
    ASSERT_EQ(Extract({{{0x22, 2, "sbl1"}, {0x1000, 3, "aboot"}, {0x5000, 0, "empty"}}}),
              kErrorSuccess);
    EXPECT_EQ(ListDir(out), (Lines{"aboot.mbn", "empty.mbn", "partition.txt", "sbl1.mbn"}));
    EXPECT_EQ(ReadFileBytes(out / "sbl1.mbn"), PatternBytes(0, 0, 2 * 512));
    EXPECT_EQ(ReadFileBytes(out / "aboot.mbn"), PatternBytes(1, 0, 3 * 512));
    EXPECT_EQ(ReadFileBytes(out / "empty.mbn"), "");
    // The extraction's lines go in from position 0, ahead of what the list held.
    EXPECT_EQ(view.lines, (Lines{"sbl1 -- 0x100400_0x0", "aboot -- 0x100a00_0x2",
                                 "empty -- 0x100a00_0x5", "older line"}));
    EXPECT_EQ(view.insertPositions, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(view.selectionsAfterInsert, 3);
    EXPECT_TRUE(Completed());

    const PartitionIndex index = LoadIndex();
    ASSERT_EQ(index.imagePartitionCount, 3u);
    const ImagePartition& aboot = *index.imagePartitions[1];
    EXPECT_EQ(LabelText(aboot), "aboot");
    EXPECT_EQ(FileNameText(aboot), "aboot.mbn");
    EXPECT_EQ(aboot.startSector, 0x1000u);
    EXPECT_EQ(aboot.sectorCount, 3u);
    EXPECT_EQ(ReadFileBytes(*ImageFilePath(out, aboot)), PatternBytes(1, 0, 3 * 512));
}

TEST_F(ExtractionTest, PiecesOfOnePartitionShareAFileWithTheGapZeroed) {
    ASSERT_EQ(Extract({{{1000, 80, "system"}, {1100, 10, "system"}, {1110, 1, "system"}}}),
              kErrorSuccess);
    EXPECT_EQ(ListDir(out), (Lines{"partition.txt", "system.mbn"}));
    const std::string expected = PatternBytes(0, 0, 80 * 512) + std::string(20 * 512, '\0') +
                                 PatternBytes(1, 0, 10 * 512) + PatternBytes(2, 0, 512);
    EXPECT_EQ(ReadFileBytes(out / "system.mbn"), expected);
    EXPECT_EQ(view.lines, (Lines{"system -- 0x10a000_0x0", "system -- 0x10b400_0x50",
                                 "system -- 0x10b600_0x5a"}));
    const PartitionIndex index = LoadIndex();
    ASSERT_EQ(index.imagePartitionCount, 3u);
    EXPECT_EQ(index.imagePartitions[1]->startSector, 1100u);
    EXPECT_EQ(index.imagePartitions[1]->sectorCount, 10u);
    EXPECT_EQ(LabelText(*index.imagePartitions[2]), "system");
    EXPECT_EQ(PartitionChoices(index), Lines{"system"});
}

// A pipe cannot be copied by the kernel file to file, so the data goes through the buffer.
TEST_F(ExtractionTest, ImageFromAPipeGivesTheSameFiles) {
    const TestImage image{{{1000, 2100, "system"}, {3200, 7, "system"}, {9000, 3, "boot"}}};
    WriteTestImage(bin, image);
    const std::string bytes = ReadFileBytes(bin);
    const auto pipe = dir / "pipe.bin";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    std::thread writer([&] {
        std::ofstream(pipe, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    });
    const int result = ExtractTotalImage(pipe, out, view);
    writer.join();
    std::signal(SIGPIPE, previous);
    ASSERT_EQ(result, kErrorSuccess);
    EXPECT_EQ(ReadFileBytes(out / "system.mbn"), PatternBytes(0, 0, 2100 * 512) +
                                                     std::string(100 * 512, '\0') +
                                                     PatternBytes(1, 0, 7 * 512));
    EXPECT_EQ(ReadFileBytes(out / "boot.mbn"), PatternBytes(2, 0, 3 * 512));
    EXPECT_EQ(view.lines, (Lines{"system -- 0x206800_0x0", "system -- 0x207600_0x834",
                                 "boot -- 0x207c00_0x83b"}));
}

TEST_F(ExtractionTest, LayoutMarkChoosesTheNameTable) {
    for (const bool near : {true, false}) {
        TestImage image{{{1, 1, "modem"}}};
        image.nearLayoutMark = near;
        view = RecordingLogView{};
        ASSERT_EQ(Extract(image), kErrorSuccess) << near;
        EXPECT_EQ(view.lines, Lines{"modem -- 0x100200_0x0"}) << near;
        EXPECT_TRUE(std::filesystem::exists(out / "modem.mbn")) << near;
        EXPECT_FALSE(std::filesystem::exists(out / "decoy0.mbn")) << near;
        std::filesystem::remove(out / "modem.mbn");
    }
}

TEST_F(ExtractionTest, NamesUpTo28CharactersFitPartitionTxt) {
    const std::string name28(28, 'n');
    ASSERT_EQ(Extract({{{5, 1, name28}}}), kErrorSuccess);
    const PartitionIndex index = LoadIndex();
    EXPECT_EQ(LabelText(*index.imagePartitions[0]), name28);
    EXPECT_EQ(FileNameText(*index.imagePartitions[0]), name28 + ".mbn");  // all 32 bytes
    EXPECT_EQ(ReadFileBytes(*ImageFilePath(out, *index.imagePartitions[0])),
              PatternBytes(0, 0, 512));
    EXPECT_EQ(FindImagePartition(index, name28), 0);
}

// Unsafe or too long names, pieces that go backwards or overlap, a name that comes back later:
// the whole image is refused and nothing is written.
TEST_F(ExtractionTest, RefusedTablesWriteNothing) {
    struct Case {
        TestImage image;
        std::string line;
    };
    std::vector<Case> cases;
    const std::pair<std::string, std::string> unsafe[] = {
        {"", ""},           {".", "."},     {"..", ".."},     {"../escape", "../escape"},
        {"/abs", "/abs"},   {"a/b", "a/b"}, {"a\\b", "a\\b"}, {"tab\tname", "tab\\x09name"},
        {"x\x7F", "x\\x7F"}};
    for (const auto& [name, shown] : unsafe) {
        cases.push_back({TestImage{{{1, 1, "good"}, {2, 1, name}}},
                         "ERROR - invalid partition name \"" + shown + "\" (record 1)"});
    }
    for (const size_t length : {29u, 32u}) {  // 32: the field is full, no terminating zero
        const std::string name(length, 'L');
        cases.push_back({TestImage{{{5, 1, name}}},
                         "ERROR - partition name too long \"" + name + "\" (record 0)"});
    }
    for (const uint32_t secondStart : {1000u, 1050u, 1079u, 10u}) {
        cases.push_back({TestImage{{{1000, 80, "sys"}, {secondStart, 4, "sys"}}},
                         "ERROR - pieces of sys go backwards or overlap (record 1)"});
    }
    cases.push_back({TestImage{{{1, 1, "a"}, {2, 1, "b"}, {3, 1, "a"}}},
                     "ERROR - partition a appears twice (record 2)"});
    WriteFileBytes(dir / "escape.mbn", "kept");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        view = RecordingLogView{};
        EXPECT_EQ(Extract(c.image), kErrorGenFailure);
        EXPECT_EQ(view.lines, Lines{c.line});
        EXPECT_TRUE(view.messages.empty());
        EXPECT_TRUE(ListDir(out).empty());
    }
    EXPECT_EQ(ReadFileBytes(dir / "escape.mbn"), "kept");
    // Back to back is fine: no gap at all.
    ASSERT_EQ(Extract({{{1000, 80, "sys"}, {1080, 4, "sys"}}}), kErrorSuccess);
    EXPECT_EQ(ReadFileBytes(out / "sys.mbn"),
              PatternBytes(0, 0, 80 * 512) + PatternBytes(1, 0, 4 * 512));
}

TEST_F(ExtractionTest, RecordTableMustEndBy0x4000) {
    TestImage image;
    for (int i = 0; i < 510; ++i) {
        image.records.push_back(
            {static_cast<uint32_t>(i), 0, std::string("p").append(std::to_string(i))});
    }
    ASSERT_EQ(Extract(image), kErrorSuccess);  // 510 records and the terminator fill the table
    EXPECT_EQ(LoadIndex().imagePartitionCount, 510u);

    std::filesystem::remove_all(out);
    std::filesystem::create_directory(out);
    view = RecordingLogView{};
    image.records.push_back({600, 0, "p510"});
    EXPECT_EQ(Extract(image), kErrorGenFailure);
    EXPECT_EQ(view.lines, Lines{"ERROR - MAX number of partition"});
    EXPECT_TRUE(ListDir(out).empty());
}

TEST_F(ExtractionTest, MissingImage) {
    EXPECT_EQ(ExtractTotalImage(dir / "none.bin", out, view), kErrorOpenFailed);
    EXPECT_EQ(view.lines,
              (Lines{"Filename not found " + (dir / "none.bin").string(), "Read Fail 0x0"}));
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(ListDir(out).empty());
}

TEST_F(ExtractionTest, ShortImageIsAReadFailureAndNothingIsPadded) {
    WriteFileBytes(out / "partition.txt", "old index");
    WriteFileBytes(out / "b.mbn", "old b");
    const TestImage image{{{1, 4, "a"}, {9, 4, "b"}, {20, 1, "c"}}};
    WriteTestImage(bin, image);
    const uint64_t cut = 0x100000 + 4 * 512 + 3 * 512 + 100;  // inside b's data
    std::filesystem::resize_file(bin, cut);
    EXPECT_EQ(ExtractTotalImage(bin, out, view), kErrorReadFault);
    EXPECT_EQ(view.lines, (Lines{"a -- 0x100800_0x0", "Read Fail 0x100e64"}));
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(ListDir(out), (Lines{"a.mbn", "b.mbn", "partition.txt"}));
    EXPECT_EQ(ReadFileBytes(out / "b.mbn"), "old b");
    EXPECT_EQ(ReadFileBytes(out / "partition.txt"), "old index");
}

TEST_F(ExtractionTest, ImageCutInsideItsTables) {
    for (const uint64_t cut : {0x1000u, 0x2018u, 0x4002u, 0x4230u, 0x80000u}) {
        view = RecordingLogView{};
        WriteTestImage(bin, TestImage{{{1, 1, "a"}}});
        std::filesystem::resize_file(bin, cut);
        EXPECT_EQ(ExtractTotalImage(bin, out, view), kErrorReadFault);
        char expected[32];
        std::snprintf(expected, sizeof expected, "Read Fail 0x%llx",
                      static_cast<unsigned long long>(cut));
        EXPECT_EQ(view.lines, Lines{expected});
        EXPECT_TRUE(ListDir(out).empty());
    }
}

TEST_F(ExtractionTest, UnwritableFolderIsReportedWithoutCompletion) {
    WriteTestImage(bin, TestImage{{{1, 1, "a"}}});
    EXPECT_EQ(ExtractTotalImage(bin, dir / "no" / "such", view), kErrorWriteFault);
    EXPECT_EQ(view.lines, Lines{"Write Fail " + (dir / "no" / "such" / "a.mbn").string() +
                                " (No such file or directory)"});
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(ExtractionTest, PartitionTxtIsWrittenWholeOrNotAtAll) {
    WriteFileBytes(out / "partition.txt", "old index");
    std::filesystem::create_directory(out / "partition.txt.tmp");  // the temporary cannot be made
    EXPECT_EQ(Extract({{{1, 1, "a"}}}), kErrorWriteFault);
    EXPECT_EQ(view.lines,
              (Lines{"a -- 0x100200_0x0",
                     "Write Fail " + (out / "partition.txt").string() + " (Is a directory)"}));
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(ReadFileBytes(out / "partition.txt"), "old index");
}

TEST_F(ExtractionTest, DiskFullLeavesNoPartialFile) {
    // A file-size limit stands in for a full disk: writes past it fail with EFBIG.
    WriteTestImage(bin, TestImage{{{1, 1, "a"}, {2, 256, "big"}}});
    WriteFileBytes(out / "big.mbn", "old big");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int result = ExtractTotalImage(bin, out, view);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(result, kErrorWriteFault);
    ASSERT_EQ(view.lines.size(), 2u);
    EXPECT_EQ(view.lines[1], "Write Fail " + (out / "big.mbn").string() + " (File too large)");
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(ListDir(out), (Lines{"a.mbn", "big.mbn"}));
    EXPECT_EQ(ReadFileBytes(out / "big.mbn"), "old big");
}

TEST_F(ExtractionTest, RecordsOf4GiBOrMoreKeepTheirLength) {
    // 0x800001 sectors are 4 GiB + 512 bytes: cut to 32 bits that would be one sector. The image
    // holds only 1 MiB of that data, so the copy runs out there.
    WriteTestImage(bin, TestImage{{{1, 0x800001, "big", true}}});
    std::filesystem::resize_file(bin, 0x200000);
    EXPECT_EQ(ExtractTotalImage(bin, out, view), kErrorReadFault);
    EXPECT_EQ(view.lines, Lines{"Read Fail 0x200000"});
    EXPECT_TRUE(ListDir(out).empty());
}

TEST_F(ExtractionTest, ZeroGapOf4GiBIsLeftAsAHole) {
    ASSERT_EQ(Extract({{{0, 1, "gap"}, {0x800001, 1, "gap"}}}), kErrorSuccess);
    const uint64_t size = 0x100000000u + 2 * 512;
    ASSERT_EQ(std::filesystem::file_size(out / "gap.mbn"), size);
    struct stat info {};
    ASSERT_EQ(::stat((out / "gap.mbn").c_str(), &info), 0);
    EXPECT_LT(info.st_blocks, 1024);
    std::ifstream file(out / "gap.mbn", std::ios::binary);
    std::string head(512, '\0'), middle(512, '\0'), tail(512, '\0');
    file.read(head.data(), 512);
    file.seekg(0x80000000);
    file.read(middle.data(), 512);
    file.seekg(static_cast<std::streamoff>(size - 512));
    file.read(tail.data(), 512);
    EXPECT_EQ(head, PatternBytes(0, 0, 512));
    EXPECT_EQ(middle, std::string(512, '\0'));
    EXPECT_EQ(tail, PatternBytes(1, 0, 512));
    const PartitionIndex index = LoadIndex();
    EXPECT_EQ(index.imagePartitions[1]->startSector, 0x800001u);
    EXPECT_EQ(index.imagePartitions[1]->sectorCount, 1u);
}

// Random tables, names and cuts: the extraction either completes or reports a failure, and it
// never writes anything outside the output folder.
TEST_F(ExtractionTest, RandomImagesStayInsideTheFolder) {
    std::mt19937 random(20261206);
    const std::string alphabet = "ab./\\\x01 ";
    for (int round = 0; round < 80; ++round) {
        TestImage image;
        image.nearLayoutMark = random() % 2 == 0;
        const int count = static_cast<int>(random() % 6);
        for (int i = 0; i < count; ++i) {
            std::string name(random() % 5, 'a');
            for (char& c : name) {
                c = alphabet[random() % alphabet.size()];
            }
            image.records.push_back(
                {static_cast<uint32_t>(random() % 64), static_cast<uint32_t>(random() % 8), name});
        }
        WriteTestImage(bin, image);
        if (random() % 3 == 0) {
            std::filesystem::resize_file(bin, random() % testing::TestImageSize(image));
        }
        view = RecordingLogView{};
        const int result = ExtractTotalImage(bin, out, view);
        EXPECT_EQ(result == kErrorSuccess, Completed()) << round;
        EXPECT_EQ(result == kErrorSuccess, std::filesystem::exists(out / "partition.txt"));
        EXPECT_EQ(ListDir(dir.path()), (Lines{"out", "total.bin"})) << round;
        for (const std::string& name : ListDir(out)) {
            EXPECT_FALSE(name.ends_with(".tmp")) << round;
        }
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
    }
}

}  // namespace
}  // namespace veltrix
