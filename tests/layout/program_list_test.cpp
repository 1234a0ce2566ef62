#include "layout/program_list.h"

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>

#include "tests/layout/layout_test_support.h"

namespace veltrix {
namespace {

using testing::TempDir;
using testing::WriteFileBytes;

class ProgramListTest : public ::testing::Test {
protected:
    ProgramListTest() { list.console = &console; }

    int Load(const std::string& xml) {
        const auto path = dir / "rawprogram0.xml";
        WriteFileBytes(path, xml);
        return LoadProgramList(list, path);
    }
    std::string Label(int i) const { return list.slots[i]->label; }

    TempDir dir;
    std::ostringstream console;
    ProgramList list;
};

std::string Program(const std::string& label, const std::string& filename = "f.mbn") {
    return "<program label=\"" + label + "\" start_sector=\"1\" num_partition_sectors=\"2\" " +
           "start_byte_hex=\"0x200\" size_in_KB=\"1.0\" filename=\"" + filename + "\"/>\n";
}

TEST_F(ProgramListTest, FirstOfLabelsEqualIgnoringCaseWins) {
    ASSERT_EQ(Load("<?xml version=\"1.0\" ?>\n<data>\n" + Program("sbl1", "first.mbn") +
                   Program("SBL1", "second.mbn") + "</data>\n"),
              1);
    ASSERT_EQ(list.count, 1);
    EXPECT_EQ(Label(0), "sbl1");
    EXPECT_EQ(list.slots[0]->filename, "first.mbn");
}

TEST_F(ProgramListTest, EmptyFilenameAndAbsentOptionalAttributes) {
    ASSERT_EQ(Load("<data><program label=\"modem\" start_sector=\"8\" "
                   "num_partition_sectors=\"16\" filename=\"\"/></data>"),
              1);
    ASSERT_EQ(list.count, 1);
    const ProgramEntry& entry = *list.slots[0];
    EXPECT_EQ(entry.start_sector, "8");
    EXPECT_EQ(entry.num_partition_sectors, "16");
    EXPECT_EQ(entry.filename, "");
    EXPECT_FALSE(entry.start_byte_hex.has_value());
    EXPECT_FALSE(entry.size_in_KB.has_value());
}

TEST_F(ProgramListTest, CommentsAndZerooutsArePassedOver) {
    ASSERT_EQ(Load("<?xml version=\"1.0\" ?>\n<!-- before the root -->\n<data>\n<!-- a -->\n" +
                   Program("a") + "<zeroout start_sector=\"0\" num_partition_sectors=\"1\"/>\n" +
                   "<!-- b -->\n<zeroout/><zeroout/>\n" + Program("b") + "<other/>text\n" +
                   Program("c") + "<!-- last child -->\n</data>\n"),
              1);
    ASSERT_EQ(list.count, 3);
    EXPECT_EQ(Label(0), "a");
    EXPECT_EQ(Label(1), "b");
    EXPECT_EQ(Label(2), "c");
}

TEST_F(ProgramListTest, OnlyTheFirstDataElementIsWalked) {
    // A program before "data" at the top level is read; anything after the first "data" is not.
    ASSERT_EQ(Load("<program label=\"early\" start_sector=\"0\" num_partition_sectors=\"1\" "
                   "filename=\"\"/>\n<data>" +
                   Program("inside") + "</data>\n" + Program("after") + "<data>" +
                   Program("second_data") + "</data>"),
              1);
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(Label(0), "early");
    EXPECT_EQ(Label(1), "inside");
}

TEST_F(ProgramListTest, RequiredAttributesAndLabelOrder) {
    ASSERT_EQ(Load("<data>"
                   "<program start_sector=\"1\" num_partition_sectors=\"1\" filename=\"x\"/>"
                   "<program label=\"a\" num_partition_sectors=\"1\" filename=\"x\"/>"
                   "<program label=\"b\" start_sector=\"1\" filename=\"x\"/>"
                   "<program label=\"c\" start_sector=\"1\" num_partition_sectors=\"1\"/>" +
                   Program("A", "later.mbn") + "</data>"),
              1);
    // The incomplete "a" was never listed, so the later "A" is.
    ASSERT_EQ(list.count, 1);
    EXPECT_EQ(Label(0), "A");
}

TEST_F(ProgramListTest, CaseFoldingIsAsciiOnly) {
    ASSERT_EQ(Load("<data>" + Program("\xC3\x89t\xC3\xA9") + Program("\xC3\xA9T\xC3\xA9") +
                   Program("Z") + Program("z") + "</data>"),
              1);
    EXPECT_EQ(list.count, 3);  // É and é differ outside ASCII; Z and z are one label
}

TEST_F(ProgramListTest, LoadingTwiceAddsNothing) {
    const std::string xml = "<data>" + Program("a") + Program("b") + "</data>";
    ASSERT_EQ(Load(xml), 1);
    ASSERT_EQ(Load(xml), 1);
    EXPECT_EQ(list.count, 2);
    ClearProgramList(list);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.slots[0], nullptr);
    ASSERT_EQ(Load(xml), 1);
    EXPECT_EQ(list.count, 2);
}

TEST_F(ProgramListTest, MissingOrMalformedFileLeavesTheListAlone) {
    ASSERT_EQ(Load("<data>" + Program("kept") + "</data>"), 1);
    EXPECT_EQ(LoadProgramList(list, dir / "absent.xml"), -1);
    EXPECT_EQ(Load("<data><program label=\"x\" </data>"), -1);
    ASSERT_EQ(list.count, 1);
    EXPECT_EQ(Label(0), "kept");
    EXPECT_EQ(Load("<?xml version=\"1.0\" ?><!-- no element -->"), 1);
    EXPECT_EQ(list.count, 1);
}

TEST_F(ProgramListTest, HundredEntriesThenOneConsoleLine) {
    std::string xml = "<data>";
    for (int i = 0; i < 105; ++i) {
        xml += Program(std::string("p").append(std::to_string(i)));
    }
    xml += Program("p0") + "</data>";  // a repeat is skipped, not counted as refused
    ASSERT_EQ(Load(xml), 1);
    EXPECT_EQ(list.count, kProgramListCapacity);
    EXPECT_EQ(Label(99), "p99");
    EXPECT_EQ(console.str(), "Program list full: 5 program entries not added\n");
    EXPECT_EQ(AddProgramEntry(list, "new", "1", "1", nullptr, nullptr, ""), AddResult::kListFull);
    EXPECT_EQ(AddProgramEntry(list, "P5", "1", "1", nullptr, nullptr, ""), AddResult::kSkipped);
}

TEST_F(ProgramListTest, IndexedAccessReportsOutOfBound) {
    ASSERT_EQ(Load("<data>" + Program("a") + "</data>"), 1);
    ASSERT_NE(list.At(0), nullptr);
    EXPECT_EQ(list.At(0)->label, "a");
    EXPECT_EQ(console.str(), "");
    EXPECT_EQ(list.At(1), nullptr);
    EXPECT_EQ(list.At(-1), nullptr);
    EXPECT_EQ(console.str(),
              "Array Index out of bound exception\nArray Index out of bound exception\n");
}

struct RealFile {
    const char* name;
    int entries;
    int emptyFilenames;
};
// Test names stay the same from build to build: a case prints as its file.
void PrintTo(const RealFile& f, std::ostream* os) {
    *os << f.name;
}

class RealRawprogramTest : public ::testing::TestWithParam<RealFile> {};

TEST_P(RealRawprogramTest, LoadsEveryCompleteProgram) {
    std::ostringstream console;
    ProgramList list;
    list.console = &console;
    const auto path = std::filesystem::path(VELTRIX_TESTDATA_DIR) / "rawprogram" / GetParam().name;
    ASSERT_EQ(LoadProgramList(list, path), 1);
    EXPECT_EQ(list.count, GetParam().entries);
    int emptyFilenames = 0;
    for (int i = 0; i < list.count; ++i) {
        EXPECT_FALSE(list.slots[i]->label.empty());
        emptyFilenames += list.slots[i]->filename.empty() ? 1 : 0;
    }
    EXPECT_EQ(emptyFilenames, GetParam().emptyFilenames);
    EXPECT_EQ(console.str(), "");
}

// Counts from tests/data/rawprogram/SOURCES.md ("All 4" and the empty filenames).
INSTANTIATE_TEST_SUITE_P(Testdata, RealRawprogramTest,
                         ::testing::Values(RealFile{"msm8974-funsafe-math.xml", 31, 11},
                                           RealFile{"msm8610-aravindvnair99.xml", 36, 0},
                                           RealFile{"msm8917-tadit7.xml", 65, 39},
                                           RealFile{"msm8939-eerenyeager.xml", 31, 22},
                                           RealFile{"msm8909-philcodeex.xml", 42, 0},
                                           RealFile{"msm89xx-kubiko.xml", 31, 11}),
                         [](const ::testing::TestParamInfo<RealFile>& info) {
                             // Named by file, so a test keeps its name from build to build.
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace veltrix
