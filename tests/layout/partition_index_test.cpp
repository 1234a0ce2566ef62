#include "layout/partition_index.h"

#include <gtest/gtest.h>

#include "base/result_codes.h"
#include "tests/support/bench_scene.h"
#include "tests/support/recording_view.h"

namespace veltrix::testing {
namespace {

constexpr const char* kNoPartitionTxt =
    "partition.txt does not exist. Please extract the file from the total binary image.  ";

// One 80-byte record as stored; `label` and `fileName` are raw field bytes (up to 32).
std::string RawRecord(uint32_t start, uint32_t count, const std::string& label,
                      const std::string& fileName) {
    std::string bytes(80, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>(start >> (8 * i));
        bytes[4 + i] = static_cast<char>(count >> (8 * i));
    }
    bytes.replace(16, label.size(), label);
    bytes.replace(48, fileName.size(), fileName);
    return bytes;
}

class PartitionIndexTest : public ::testing::Test {
protected:
    int Load(const std::string& partitionTxt) {
        WriteText(dir / "partition.txt", partitionTxt);
        return LoadPartitionIndex(index, dir.path(), view);
    }
    std::string Label(int i) const { return std::string(LabelText(*index.imagePartitions[i])); }

    TempFolder dir;
    RecordingView view;
    PartitionIndex index;
};

TEST_F(PartitionIndexTest, ThreeRecordsInFileOrderAndAnIncompleteFourthDropped) {
    ASSERT_EQ(Load(RawRecord(0x22, 0x400, "sbl1", "sbl1.mbn") +
                   RawRecord(0x1000, 0x800, "aboot", "aboot.mbn") +
                   RawRecord(0x1800, 0x10, "aboot", "aboot.mbn") +
                   RawRecord(0x9000, 1, "rpm", "rpm.mbn").substr(0, 48)),
              kErrorSuccess);
    ASSERT_EQ(index.imagePartitionCount, 3u);
    EXPECT_EQ(index.imagePartitions[3], nullptr);
    EXPECT_EQ(Label(0), "sbl1");
    EXPECT_EQ(index.imagePartitions[0]->startSector, 0x22u);
    EXPECT_EQ(index.imagePartitions[0]->sectorCount, 0x400u);
    EXPECT_EQ(Label(2), "aboot");
    EXPECT_EQ(index.imagePartitions[2]->startSector, 0x1800u);
    EXPECT_EQ(FileNameText(*index.imagePartitions[1]), "aboot.mbn");
    // What is left out is said.
    EXPECT_EQ(view.Messages(), (std::vector<std::string>{
                                   "partition.txt ends in an incomplete record (48 of 80 bytes: "
                                   "the file is cut short); it is not used.  "}));
}

TEST_F(PartitionIndexTest, AtMost1024EntriesAreRead) {
    std::string bytes;
    for (int i = 0; i < 1030; ++i) {
        bytes += RawRecord(i, 1, std::string("p").append(std::to_string(i)), "p.mbn");
    }
    ASSERT_EQ(Load(bytes), kErrorSuccess);
    EXPECT_EQ(index.imagePartitionCount, 1024u);
    EXPECT_EQ(Label(1023), "p1023");
    EXPECT_EQ(view.Messages(),
              (std::vector<std::string>{"partition.txt holds more than 1024 records; only the "
                                        "first 1024 are used.  "}));
    bytes.resize(1024 * 80);  // exactly 1024: nothing left out
    ASSERT_EQ(Load(bytes), kErrorSuccess);
    EXPECT_EQ(view.Messages().size(), 1u);
}

// The first entry whose label matches, ignoring ASCII case; full 32-byte fields without a
// terminator; Latin-1 labels found by their UI (UTF-8) text.
TEST_F(PartitionIndexTest, LookupAndImagePaths) {
    const std::string label32 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    const std::string file32 = "abcdefghijklmnopqrstuvwxyz01.mbn";
    ASSERT_EQ(Load(RawRecord(1, 1, "modem", "modem.mbn") + RawRecord(2, 1, "SBL1", "SBL1.mbn") +
                   RawRecord(3, 1, "sbl1", "sbl1.mbn") + RawRecord(7, 1, label32, file32) +
                   RawRecord(8, 1, "caf\xE9", "caf\xE9.mbn")),
              kErrorSuccess);
    const struct {
        std::string label;
        int slot;
    } cases[] = {{"sbl1", 1},
                 {"Sbl1", 1},
                 {"sbl", kPartitionIndexCapacity},
                 {"sbl12", kPartitionIndexCapacity},
                 {"", kPartitionIndexCapacity},
                 {"abcdefghijklmnopqrstuvwxyz012345", 3},
                 {label32 + "a", kPartitionIndexCapacity},
                 {"CAF\xC3\xA9", 4}};
    for (const auto& c : cases) {
        EXPECT_EQ(FindImagePartition(index, c.label), c.slot) << c.label;
    }
    EXPECT_EQ(LabelText(*index.imagePartitions[3]), label32);
    EXPECT_EQ(*ImageFilePath(dir.path(), *index.imagePartitions[3]), dir / file32);
    EXPECT_EQ(*ImageFilePath(dir.path(), *index.imagePartitions[4]), dir / "caf\xC3\xA9.mbn");
    EXPECT_EQ(PartitionChoices(index).back(), "caf\xC3\xA9");
}

// A failed load must not leave another folder's partitions behind for the next run.
TEST_F(PartitionIndexTest, FailedLoadsEmptyTheIndex) {
    const std::string two = RawRecord(1, 1, "a", "a.mbn") + RawRecord(2, 1, "b", "b.mbn");
    ASSERT_EQ(Load(two), kErrorSuccess);
    TempFolder other;
    EXPECT_EQ(LoadPartitionIndex(index, other.path(), view), kErrorFileNotFound);
    EXPECT_EQ(index.imagePartitionCount, 0u);
    EXPECT_EQ(index.imagePartitions[0], nullptr);
    EXPECT_EQ(FindImagePartition(index, "a"), kPartitionIndexCapacity);
    ASSERT_EQ(Load(two), kErrorSuccess);
    EXPECT_EQ(LoadPartitionIndex(index, "", view), kErrorFileNotFound);
    EXPECT_EQ(index.imagePartitionCount, 0u);
    EXPECT_EQ(view.Messages(),
              (std::vector<std::string>{kNoPartitionTxt, "Please select target directory.  "}));
    // A successful load replaces the whole index.
    ASSERT_EQ(Load(two), kErrorSuccess);
    ASSERT_EQ(Load(RawRecord(9, 1, "c", "c.mbn")), kErrorSuccess);
    EXPECT_EQ(index.imagePartitionCount, 1u);
    EXPECT_EQ(index.imagePartitions[1], nullptr);
    EXPECT_EQ(Label(0), "c");
}

TEST_F(PartitionIndexTest, ChoicesShowRunsOfOneLabelOnce) {
    ASSERT_EQ(Load(RawRecord(0, 1, "", "") + RawRecord(1, 1, "system", "system.mbn") +
                   RawRecord(5, 1, "system", "system.mbn") + RawRecord(9, 1, "SYSTEM", "S.mbn") +
                   RawRecord(10, 1, "boot", "boot.mbn") + RawRecord(11, 1, "", "") +
                   RawRecord(12, 1, "system", "system.mbn")),
              kErrorSuccess);
    EXPECT_EQ(PartitionChoices(index),
              (std::vector<std::string>{"system", "SYSTEM", "boot", "", "system"}));
}

TEST_F(PartitionIndexTest, FirstDropDownOnAnEmptyIndexOnlyLoadsIt) {
    WriteText(dir / "partition.txt", RawRecord(1, 1, "sbl1", "sbl1.mbn"));
    EXPECT_FALSE(FillPartitionChoices(index, dir.path(), view).has_value());
    EXPECT_EQ(index.imagePartitionCount, 1u);
    const auto second = FillPartitionChoices(index, dir.path(), view);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(*second, std::vector<std::string>{"sbl1"});
    EXPECT_TRUE(view.Messages().empty());
}

TEST(ImageFilePath, RefusesNamesThatLeaveTheTargetDirectory) {
    struct Case {
        std::string field;
        bool usable;
    };
    const std::vector<Case> cases = {
        {"sbl1.mbn", true},
        {"a b..mbn", true},
        {"..mbn", true},
        {"", false},
        {".", false},
        {"..", false},
        {"../sbl1.mbn", false},
        {"/etc/passwd", false},
        {"sub/sbl1.mbn", false},
        {"..\\sbl1.mbn", false},
        {"a\nb.mbn", false},
        {"a\x7F.mbn", false},
        {"\tsbl1.mbn", false},
    };
    for (const Case& c : cases) {
        ImagePartition entry;
        std::copy(c.field.begin(), c.field.end(), entry.fileName.begin());
        const auto path = ImageFilePath("/target", entry);
        EXPECT_EQ(path.has_value(), c.usable) << c.field;
        if (path) {
            EXPECT_EQ(path->parent_path(), "/target") << c.field;
        }
    }
}

}  // namespace
}  // namespace veltrix::testing
