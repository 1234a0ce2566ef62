// The total-image extraction on real files: what lands in the folder, the run log it writes, the
// tables it refuses, and the images that end too early.
#include "layout/image_extraction.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <thread>

#include "base/result_codes.h"
#include "layout/partition_index.h"
#include "tests/support/bench_scene.h"
#include "tests/support/recording_view.h"

namespace veltrix::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCompleted = "completed.  ";

class ExtractionTest : public ::testing::Test {
protected:
    ExtractionTest() { fs::create_directory(out); }

    // Extracts `from` into `to` with a fresh run log, kept in `lines` and `messages`.
    int Run(const fs::path& from, const fs::path& to) {
        RecordingView view;
        const int result = ExtractTotalImage(from, to, view);
        lines = view.Lines();
        messages = view.Messages();
        return result;
    }
    int Extract(const TotalImage& image) {
        WriteTotalImage(bin, image);
        return Run(bin, out);
    }
    PartitionIndex LoadIndex() {
        PartitionIndex index;
        RecordingView quiet;
        EXPECT_EQ(LoadPartitionIndex(index, out, quiet), kErrorSuccess);
        return index;
    }
    void EmptyOut() {
        fs::remove_all(out);
        fs::create_directory(out);
    }

    TempFolder dir;
    fs::path bin = dir / "total.bin";
    fs::path out = dir / "out";
    Lines lines, messages;
};

TEST_F(ExtractionTest, PartitionsBecomeFilesAndIndexRecords) {
    EXPECT_EQ(Extract({}), kErrorSuccess);  // a table terminated at once
    EXPECT_EQ(ListFolder(out), Lines{"partition.txt"});
    EXPECT_EQ(fs::file_size(out / "partition.txt"), 0u);
    EXPECT_EQ(messages, Lines{kCompleted});

    EmptyOut();
    WriteTotalImage(bin, {{{0x22, 2, "sbl1"}, {0x1000, 3, "aboot"}, {0x5000, 0, "empty"}}});
    RecordingView view;
    view.InsertLogLine(0, "older line");
    ASSERT_EQ(ExtractTotalImage(bin, out, view), kErrorSuccess);
    EXPECT_EQ(ListFolder(out), (Lines{"aboot.mbn", "empty.mbn", "partition.txt", "sbl1.mbn"}));
    EXPECT_EQ(ReadBytes(out / "sbl1.mbn"), RecordData(0, 0, 2 * 512));
    EXPECT_EQ(ReadBytes(out / "empty.mbn"), Bytes{});
    // The extraction's lines go in from position 0, ahead of what the list held.
    EXPECT_EQ(view.Lines(), (Lines{"sbl1 -- 0x100400_0x0", "aboot -- 0x100a00_0x2",
                                   "empty -- 0x100a00_0x5", "older line"}));
    EXPECT_EQ(view.SelectedLine(), 3);
    EXPECT_EQ(view.Messages(), Lines{kCompleted});

    const PartitionIndex index = LoadIndex();
    ASSERT_EQ(index.imagePartitionCount, 3u);
    const ImagePartition& aboot = *index.imagePartitions[1];
    EXPECT_EQ(LabelText(aboot), "aboot");
    EXPECT_EQ(FileNameText(aboot), "aboot.mbn");
    EXPECT_EQ(aboot.startSector, 0x1000u);
    EXPECT_EQ(aboot.sectorCount, 3u);
    EXPECT_EQ(ReadBytes(*ImageFilePath(out, aboot)), RecordData(1, 0, 3 * 512));
}

TEST_F(ExtractionTest, PiecesOfOnePartitionShareAFileWithTheGapZeroed) {
    ASSERT_EQ(Extract({{{1000, 80, "system"}, {1100, 10, "system"}, {1110, 1, "system"}}}),
              kErrorSuccess);
    EXPECT_EQ(ListFolder(out), (Lines{"partition.txt", "system.mbn"}));
    EXPECT_EQ(ReadBytes(out / "system.mbn"),
              Join({RecordData(0, 0, 80 * 512), Bytes(20 * 512), RecordData(1, 0, 10 * 512),
                    RecordData(2, 0, 512)}));
    EXPECT_EQ(lines, (Lines{"system -- 0x10a000_0x0", "system -- 0x10b400_0x50",
                            "system -- 0x10b600_0x5a"}));
    const PartitionIndex index = LoadIndex();
    ASSERT_EQ(index.imagePartitionCount, 3u);
    EXPECT_EQ(index.imagePartitions[1]->startSector, 1100u);
    EXPECT_EQ(index.imagePartitions[1]->sectorCount, 10u);
    EXPECT_EQ(PartitionChoices(index), Lines{"system"});
}

// A pipe cannot be copied by the kernel file to file, so the data goes through the buffer.
TEST_F(ExtractionTest, ImageFromAPipeGivesTheSameFiles) {
    WriteTotalImage(bin, {{{1000, 2100, "system"}, {3200, 7, "system"}, {9000, 3, "boot"}}});
    const Bytes bytes = ReadBytes(bin);
    const fs::path pipe = dir / "pipe.bin";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // The writer is connected before the extraction opens the pipe (which never waits for one):
    // a reader of the test's own lets the write end open at once.
    const int keeper = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    const int writeEnd = ::open(pipe.c_str(), O_WRONLY);
    ASSERT_GE(writeEnd, 0);
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    std::thread writer([&] {
        for (size_t at = 0; at < bytes.size();) {
            const ssize_t n = ::write(writeEnd, bytes.data() + at, bytes.size() - at);
            if (n <= 0) {
                break;
            }
            at += static_cast<size_t>(n);
        }
        ::close(writeEnd);
    });
    const int result = Run(pipe, out);
    ::close(keeper);  // a writer still going gets EPIPE now
    writer.join();
    std::signal(SIGPIPE, previous);
    ASSERT_EQ(result, kErrorSuccess);
    EXPECT_EQ(ReadBytes(out / "system.mbn"),
              Join({RecordData(0, 0, 2100 * 512), Bytes(100 * 512), RecordData(1, 0, 7 * 512)}));
    EXPECT_EQ(ReadBytes(out / "boot.mbn"), RecordData(2, 0, 3 * 512));
    EXPECT_EQ(lines, (Lines{"system -- 0x206800_0x0", "system -- 0x207600_0x834",
                            "boot -- 0x207c00_0x83b"}));
}

TEST_F(ExtractionTest, LayoutMarkChoosesTheNameTableAndNamesFillTheirField) {
    for (const bool near : {true, false}) {
        SCOPED_TRACE(near);
        TotalImage image{{{1, 1, "modem"}}};
        image.nearLayoutMark = near;
        ASSERT_EQ(Extract(image), kErrorSuccess);
        EXPECT_EQ(lines, Lines{"modem -- 0x100200_0x0"});
        EXPECT_EQ(ListFolder(out), (Lines{"modem.mbn", "partition.txt"}));  // no decoy0.mbn
        EmptyOut();
    }
    const std::string name28(28, 'n');  // with ".mbn", all 32 bytes of the file-name field
    ASSERT_EQ(Extract({{{5, 1, name28}}}), kErrorSuccess);
    const PartitionIndex index = LoadIndex();
    EXPECT_EQ(LabelText(*index.imagePartitions[0]), name28);
    EXPECT_EQ(ReadBytes(*ImageFilePath(out, *index.imagePartitions[0])), RecordData(0, 0, 512));
}

// Unsafe or too long names, pieces that go backwards or overlap, a name that comes back later,
// too many records: the whole image is refused and nothing is written.
TEST_F(ExtractionTest, RefusedTablesWriteNothing) {
    std::vector<std::pair<TotalImage, std::string>> cases;
    const std::pair<std::string, std::string> unsafe[] = {
        {"", ""},           {".", "."},     {"..", ".."},     {"../escape", "../escape"},
        {"/abs", "/abs"},   {"a/b", "a/b"}, {"a\\b", "a\\b"}, {"tab\tname", "tab\\x09name"},
        {"x\x7F", "x\\x7F"}};
    for (const auto& [name, shown] : unsafe) {
        cases.push_back({{{{1, 1, "good"}, {2, 1, name}}},
                         "ERROR - invalid partition name \"" + shown + "\" (record 1)"});
    }
    for (const size_t length : {29u, 32u}) {  // 32: the field is full, no terminating zero
        const std::string name(length, 'L');
        cases.push_back(
            {{{{5, 1, name}}}, "ERROR - partition name too long \"" + name + "\" (record 0)"});
    }
    for (const uint32_t secondStart : {1000u, 1050u, 1079u, 10u}) {
        cases.push_back({{{{1000, 80, "sys"}, {secondStart, 4, "sys"}}},
                         "ERROR - pieces of sys go backwards or overlap (record 1)"});
    }
    cases.push_back({{{{1, 1, "a"}, {2, 1, "b"}, {3, 1, "a"}}},
                     "ERROR - partition a appears twice (record 2)"});
    TotalImage full;  // 510 records and the terminator fill the table up to 0x4000
    for (uint32_t i = 0; i < 511; ++i) {
        full.records.push_back({i, 0, std::string("p").append(std::to_string(i))});
    }
    cases.push_back({full, "ERROR - MAX number of partition"});
    WriteText(dir / "escape.mbn", "kept");
    for (const auto& [image, line] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Extract(image), kErrorGenFailure);
        EXPECT_EQ(lines, Lines{line});
        EXPECT_TRUE(messages.empty());
        EXPECT_TRUE(ListFolder(out).empty());
    }
    EXPECT_EQ(ReadBytes(dir / "escape.mbn"), (Bytes{'k', 'e', 'p', 't'}));
    full.records.pop_back();
    ASSERT_EQ(Extract(full), kErrorSuccess);
    EXPECT_EQ(LoadIndex().imagePartitionCount, 510u);
    // Back to back is fine: no gap at all.
    EmptyOut();
    ASSERT_EQ(Extract({{{1000, 80, "sys"}, {1080, 4, "sys"}}}), kErrorSuccess);
    EXPECT_EQ(ReadBytes(out / "sys.mbn"),
              Join({RecordData(0, 0, 80 * 512), RecordData(1, 0, 2048)}));
}

// The old index goes before the first file is written: a failed extraction leaves a folder
// without an index rather than one whose index describes files it no longer holds.
TEST_F(ExtractionTest, ImagesThatEndTooEarlyAreReadFailures) {
    EXPECT_EQ(Run(dir / "none.bin", out), kErrorOpenFailed);
    EXPECT_EQ(lines, (Lines{"Filename not found " + (dir / "none.bin").string(), "Read Fail 0x0"}));
    for (const uint64_t cut : {0x1000u, 0x2018u, 0x4002u, 0x4230u, 0x80000u}) {
        WriteTotalImage(bin, {{{1, 1, "a"}}});
        fs::resize_file(bin, cut);
        char expected[32];
        std::snprintf(expected, sizeof expected, "Read Fail 0x%llx",
                      static_cast<unsigned long long>(cut));
        EXPECT_EQ(Run(bin, out), kErrorReadFault);
        EXPECT_EQ(lines, Lines{expected});
        EXPECT_TRUE(ListFolder(out).empty());
    }
    // 0x800001 sectors are 4 GiB + 512 bytes: cut to 32 bits that would be one sector.
    WriteTotalImage(bin, {{{1, 0x800001, "big", true}}});
    fs::resize_file(bin, 0x200000);
    EXPECT_EQ(Run(bin, out), kErrorReadFault);
    EXPECT_EQ(lines, Lines{"Read Fail 0x200000"});
    EXPECT_TRUE(ListFolder(out).empty());

    WriteText(out / "partition.txt", "old index");
    WriteText(out / "b.mbn", "old b");
    WriteTotalImage(bin, {{{1, 4, "a"}, {9, 4, "b"}, {20, 1, "c"}}});
    fs::resize_file(bin, 0x100000 + 4 * 512 + 3 * 512 + 100);  // inside b's data
    EXPECT_EQ(Run(bin, out), kErrorReadFault);
    EXPECT_EQ(lines, (Lines{"Old partition.txt removed; it is written again when the extraction "
                            "completes",
                            "a -- 0x100800_0x0", "Read Fail 0x100e64"}));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(ListFolder(out), (Lines{"a.mbn", "b.mbn"}));
    EXPECT_EQ(ReadBytes(out / "b.mbn"), (Bytes{'o', 'l', 'd', ' ', 'b'}));
}

TEST_F(ExtractionTest, WriteFailuresNameTheFileAndTheSystemsWords) {
    WriteTotalImage(bin, {{{1, 1, "a"}}});
    EXPECT_EQ(Run(bin, dir / "no" / "such"), kErrorWriteFault);
    EXPECT_EQ(lines, Lines{"Write Fail " + (dir / "no" / "such" / "a.mbn").string() +
                           " (No such file or directory)"});
    fs::create_directory(out / "partition.txt");  // an index that is no file: refused first
    EXPECT_EQ(Run(bin, out), kErrorWriteFault);
    EXPECT_EQ(lines, Lines{"ERROR - output file " + (out / "partition.txt").string() +
                           " is a folder, not a regular file; nothing written"});
    EXPECT_EQ(ListFolder(out), Lines{"partition.txt"});
    EXPECT_TRUE(messages.empty());

    // A file-size limit stands in for a full disk: writes past it fail with EFBIG, and the file
    // being written is not left half written.
    fs::remove(out / "partition.txt");
    WriteTotalImage(bin, {{{1, 1, "a"}, {2, 256, "big"}}});
    WriteText(out / "big.mbn", "old big");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int result = Run(bin, out);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(result, kErrorWriteFault);
    EXPECT_EQ(lines, (Lines{"a -- 0x100200_0x0",
                            "Write Fail " + (out / "big.mbn").string() + " (File too large)"}));
    EXPECT_EQ(ListFolder(out), (Lines{"a.mbn", "big.mbn"}));
    EXPECT_EQ(ReadBytes(out / "big.mbn"), (Bytes{'o', 'l', 'd', ' ', 'b', 'i', 'g'}));
}

TEST_F(ExtractionTest, ZeroGapOf4GiBIsLeftAsAHole) {
    ASSERT_EQ(Extract({{{0, 1, "gap"}, {0x800001, 1, "gap"}}}), kErrorSuccess);
    const uint64_t size = 0x100000000u + 2 * 512;
    ASSERT_EQ(fs::file_size(out / "gap.mbn"), size);
    struct stat info {};
    ASSERT_EQ(::stat((out / "gap.mbn").c_str(), &info), 0);
    EXPECT_LT(info.st_blocks, 1024);
    std::ifstream file(out / "gap.mbn", std::ios::binary);
    Bytes head(512), middle(512), tail(512);
    file.read(reinterpret_cast<char*>(head.data()), 512);
    file.seekg(0x80000000);
    file.read(reinterpret_cast<char*>(middle.data()), 512);
    file.seekg(static_cast<std::streamoff>(size - 512));
    file.read(reinterpret_cast<char*>(tail.data()), 512);
    EXPECT_EQ(head, RecordData(0, 0, 512));
    EXPECT_EQ(middle, Bytes(512));
    EXPECT_EQ(tail, RecordData(1, 0, 512));
    EXPECT_EQ(LoadIndex().imagePartitions[1]->startSector, 0x800001u);
}

}  // namespace
}  // namespace veltrix::testing
