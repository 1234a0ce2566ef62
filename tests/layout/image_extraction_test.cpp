// The total-image extraction on real files: what lands in the folder, the run log it writes, the
// tables it refuses, and the images that end too early.
#include "layout/image_extraction.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "base/result_codes.h"
#include "layout/partition_index.h"
#include "tests/support/extraction_folder.h"

namespace veltrix::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCompleted = "completed.  ";

class ExtractionTest : public ExtractionFolder {
protected:
    PartitionIndex LoadIndex() {
        PartitionIndex index;
        RecordingView quiet;
        EXPECT_EQ(LoadPartitionIndex(index, out, quiet), kErrorSuccess);
        return index;
    }
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
    // A gap between pieces that no device has (1 TiB and more) would make a sparse file of
    // terabytes; 4 GiB is fine (HostileFolderTest.ZeroGapOf4GiBIsLeftAsAHole).
    for (const uint32_t secondStart : {0x80000001u, 0xFFFFFFF0u}) {
        char gap[16];
        std::snprintf(gap, sizeof gap, "0x%x", secondStart - 1);
        cases.push_back({{{{0, 1, "modem"}, {secondStart, 1, "modem"}}},
                         "ERROR - pieces of modem are " + std::string(gap) +
                             " sectors apart, more than any device holds (record 1)"});
    }
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

// A folder that is not there is made, with its parents; one that cannot be made is named with the
// system's words.
TEST_F(ExtractionTest, WriteFailuresNameTheFileAndTheSystemsWords) {
    WriteTotalImage(bin, {{{1, 1, "a"}}});
    EXPECT_EQ(Run(bin, dir / "no" / "such"), kErrorSuccess);
    EXPECT_EQ(ListFolder(dir / "no" / "such"), (Lines{"a.mbn", "partition.txt"}));
    WriteText(dir / "file", "");
    EXPECT_EQ(Run(bin, dir / "file" / "sub"), kErrorWriteFault);
    EXPECT_EQ(lines, Lines{"ERROR - output folder " + (dir / "file" / "sub").string() +
                           " cannot be created (Not a directory)"});
    messages.clear();
    fs::create_directory(out / "partition.txt");  // an index that is no file: refused first
    EXPECT_EQ(Run(bin, out), kErrorWriteFault);
    EXPECT_EQ(lines, Lines{"ERROR - output file " + (out / "partition.txt").string() +
                           " is a folder, not a regular file; nothing written"});
    EXPECT_EQ(ListFolder(out), Lines{"partition.txt"});
    EXPECT_TRUE(messages.empty());
}

// One extraction at a time in a folder: a second one while the first is writing is refused
// before it writes anything, and the folder holds the first one's files and index alone.
TEST_F(ExtractionTest, SecondExtractionIntoAFolderInUseIsRefused) {
    WriteTotalImage(bin, {{{1, 4, "a"}, {9, 4, "b"}}});
    const fs::path other = dir / "other.bin";
    WriteTotalImage(other, {{{1, 2, "a"}, {5, 2, "c"}}});
    RecordingView first;
    first.HoldAtLine("a -- ");  // a's data is copied, b's not yet
    int firstResult = -1;
    std::thread writer([&] { firstResult = ExtractTotalImage(bin, out, first); });
    ASSERT_TRUE(first.WaitUntilHeld(std::chrono::seconds(10)));
    EXPECT_EQ(Run(other, out), kErrorWriteFault);
    EXPECT_EQ(lines, Lines{"ERROR - another extraction is writing into " + out.string() +
                           "; nothing written"});
    first.Release();
    writer.join();
    EXPECT_EQ(firstResult, kErrorSuccess);
    EXPECT_EQ(ListFolder(out), (Lines{"a.mbn", "b.mbn", "partition.txt"}));
    EXPECT_EQ(ReadBytes(out / "a.mbn"), RecordData(0, 0, 4 * 512));
    EXPECT_EQ(Run(other, out), kErrorSuccess);  // the folder is free again
}

// A cancel that comes after the last piece, as late as the index's own write, leaves no index;
// the partitions' files stay.
TEST_F(ExtractionTest, CancelAfterTheLastPieceLeavesNoIndex) {
    WriteTotalImage(bin, {{{1, 4, "a"}, {9, 4, "b"}}});
    WriteText(out / "partition.txt", "old index");
    std::atomic<bool> cancel{false};
    RecordingView view;
    const auto atTheEnd = [&](uint64_t done, uint64_t total) { cancel = done == total; };
    EXPECT_EQ(ExtractTotalImage(bin, out, view, &cancel, atTheEnd), kErrorOperationAborted);
    EXPECT_EQ(view.Lines().back(), "Extraction cancelled; partition.txt is not written");
    EXPECT_EQ(ListFolder(out), (Lines{"a.mbn", "b.mbn"}));
    EXPECT_TRUE(view.Messages().empty());
}

// An image that grows while it is split (another program still writing its end) gives the
// files its tables describe, no byte more.
TEST_F(ExtractionTest, ImageThatGrowsWhileItIsSplitGivesTheFilesOfItsTables) {
    WriteTotalImage(bin, {{{1, 4, "a"}, {9, 2048, "b"}}});
    const uint64_t size = fs::file_size(bin);
    RecordingView view;
    bool grown = false;
    const auto grow = [&](uint64_t, uint64_t) {
        if (!grown) {
            grown = true;
            std::ofstream(bin, std::ios::binary | std::ios::app) << std::string(3 << 20, '\xEE');
        }
    };
    ASSERT_EQ(ExtractTotalImage(bin, out, view, nullptr, grow), kErrorSuccess);
    ASSERT_GT(fs::file_size(bin), size);
    EXPECT_EQ(ReadBytes(out / "a.mbn"), RecordData(0, 0, 4 * 512));
    EXPECT_EQ(ReadBytes(out / "b.mbn"), RecordData(1, 0, 2048 * 512));
    EXPECT_EQ(LoadIndex().imagePartitionCount, 2u);
}

// `extract --bin same/boot.mbn --dir same`: the image would be replaced by its own partition.
TEST_F(ExtractionTest, ImageAmongTheOutputsIsRefusedBeforeAnythingIsWritten) {
    const fs::path inside = out / "boot.mbn";
    WriteTotalImage(inside, {{{1, 1, "a"}, {2, 2, "boot"}}});
    WriteText(out / "partition.txt", "old index");
    const Bytes before = ReadBytes(inside);
    const std::string line =
        "ERROR - output file " + inside.string() + " is the image itself; nothing written";

    EXPECT_EQ(Run(inside, out), kErrorWriteFault);
    EXPECT_EQ(lines, Lines{line});
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(ReadBytes(inside), before);
    EXPECT_EQ(ListFolder(out), (Lines{"boot.mbn", "partition.txt"}));
    EXPECT_EQ(ReadBytes(out / "partition.txt").size(), 9u);

    // The same file under another name (a hard link) is the same file.
    fs::create_hard_link(inside, bin);
    EXPECT_EQ(Run(bin, out), kErrorWriteFault);
    EXPECT_EQ(lines, Lines{line});
    EXPECT_EQ(ReadBytes(inside), before);

    // The image as the index of the folder.
    fs::remove(out / "partition.txt");
    fs::rename(inside, out / "partition.txt");
    EXPECT_EQ(Run(out / "partition.txt", out), kErrorWriteFault);
    EXPECT_EQ(ReadBytes(out / "partition.txt"), before);
}

}  // namespace
}  // namespace veltrix::testing
