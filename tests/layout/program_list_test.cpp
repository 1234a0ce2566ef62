#include "layout/program_list.h"

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include "base/result_codes.h"
#include "tests/support/bench_scene.h"

namespace veltrix::testing {
namespace {

class ProgramListTest : public ::testing::Test {
protected:
    ProgramListTest() { list.console = &console; }

    int Load(const std::string& xml) {
        WriteText(dir / "rawprogram0.xml", xml);
        return LoadProgramList(list, dir / "rawprogram0.xml");
    }
    Lines Labels() const {
        Lines labels;
        for (int i = 0; i < list.count; ++i) {
            labels.push_back(list.slots[i]->label);
        }
        return labels;
    }

    TempFolder dir;
    std::ostringstream console;
    ProgramList list;
};

std::string Program(const std::string& label, const std::string& filename = "f.mbn") {
    return "<program label=\"" + label + "\" start_sector=\"1\" num_partition_sectors=\"2\" " +
           "start_byte_hex=\"0x200\" size_in_KB=\"1.0\" filename=\"" + filename + "\"/>\n";
}

TEST_F(ProgramListTest, WhichProgramsAreListed) {
    const struct {
        const char* name;
        std::string xml;
        Lines labels;
    } cases[] = {
        {"first of labels equal ignoring case",
         "<?xml version=\"1.0\" ?>\n<data>\n" + Program("sbl1") + Program("SBL1") + "</data>\n",
         {"sbl1"}},
        {"ASCII-only case folding",  // É and é differ outside ASCII; Z and z are one label
         "<data>" + Program("\xC3\x89t\xC3\xA9") + Program("\xC3\xA9T\xC3\xA9") + Program("Z") +
             Program("z") + "</data>",
         {"\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\xA9", "Z"}},
        {"comments, zeroouts and other elements passed over",
         "<?xml version=\"1.0\" ?>\n<!-- before -->\n<data>\n<!-- a -->\n" + Program("a") +
             "<zeroout start_sector=\"0\" num_partition_sectors=\"1\"/>\n<!-- b -->\n<zeroout/>" +
             Program("b") + "<other/>text\n" + Program("c") + "<!-- last -->\n</data>\n",
         {"a", "b", "c"}},
        {"before and inside the first data element only",
         "<program label=\"early\" start_sector=\"0\" num_partition_sectors=\"1\" "
         "filename=\"\"/>\n<data>" +
             Program("inside") + "</data>\n" + Program("after") + "<data>" + Program("second") +
             "</data>",
         {"early", "inside"}},
        {"required attributes (the incomplete a was never listed, so A is)",
         "<data><program start_sector=\"1\" num_partition_sectors=\"1\" filename=\"x\"/>"
         "<program label=\"a\" num_partition_sectors=\"1\" filename=\"x\"/>"
         "<program label=\"b\" start_sector=\"1\" filename=\"x\"/>"
         "<program label=\"c\" start_sector=\"1\" num_partition_sectors=\"1\"/>" +
             Program("A") + "</data>",
         {"A"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearProgramList(list);
        ASSERT_EQ(Load(c.xml), 1);
        EXPECT_EQ(Labels(), c.labels);
    }
    EXPECT_EQ(console.str(), "");
}

TEST_F(ProgramListTest, EntriesKeepTheFilesTextAndAbsentAttributes) {
    ASSERT_EQ(Load("<data><program label=\"modem\" start_sector=\"8\" "
                   "num_partition_sectors=\"16\" filename=\"\"/>" +
                   Program("sbl1", "first.mbn") + "</data>"),
              1);
    ASSERT_EQ(list.count, 2);
    const ProgramEntry& modem = *list.slots[0];
    EXPECT_EQ(modem.start_sector, "8");
    EXPECT_EQ(modem.num_partition_sectors, "16");
    EXPECT_EQ(modem.filename, "");
    EXPECT_FALSE(modem.start_byte_hex.has_value());
    EXPECT_FALSE(modem.size_in_KB.has_value());
    EXPECT_EQ(list.slots[1]->filename, "first.mbn");
    EXPECT_EQ(list.slots[1]->start_byte_hex, "0x200");
    // Loading again adds nothing; cleared, the list fills again.
    ASSERT_EQ(Load("<data>" + Program("sbl1") + Program("modem") + "</data>"), 1);
    EXPECT_EQ(list.count, 2);
    ClearProgramList(list);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.slots[0], nullptr);
}

// A file that cannot be used says why (a missing one is the caller's to report), and leaves the
// list as it was.
TEST_F(ProgramListTest, UnusableFilesSayWhyAndLeaveTheListAlone) {
    ASSERT_EQ(Load("<data>" + Program("kept") + "</data>"), 1);
    std::filesystem::create_directory(dir / "folder.xml");
    std::string nested;
    for (int i = 0; i < 101; ++i) {
        nested += "<a>";
    }
    std::string crowded = "<data><program";
    for (int i = 0; i <= kMaxAttributesPerElement; ++i) {
        crowded += " a" + std::to_string(i) + "=\"=\"";
    }
    const struct {
        const char* file;  // or null: rawprogram0.xml holding `xml`
        std::string xml;
        std::string problem;
    } cases[] = {
        {"absent.xml", "", ""},
        {"folder.xml", "", "cannot be read: "},
        {nullptr, "", "is empty"},
        {nullptr, "<data>\n<program label=\"x\" </data>", "cannot be parsed: "},
        {nullptr, std::string("\xFF\xFE<\0d\0", 6), "is UTF-16 text: save it as UTF-8"},
        {nullptr, std::string("<data>\n<program\0/>", 19), "holds a NUL byte on line 2"},
        {nullptr, nested, "cannot be parsed: elements nested too deep on line 1"},
        {nullptr, crowded + "/></data>",
         "cannot be parsed: the element on line 1 carries more than 256 attributes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        std::string problem = "unchanged";
        std::filesystem::path path = dir / (c.file != nullptr ? c.file : "rawprogram0.xml");
        if (c.file == nullptr) {
            WriteText(path, c.xml);
        }
        EXPECT_EQ(LoadProgramList(list, path, &problem), kProgramListUnreadable);
        EXPECT_TRUE(problem.starts_with(c.problem) && (c.problem.empty() == problem.empty()))
            << problem;
        EXPECT_EQ(Labels(), Lines{"kept"});
    }
    EXPECT_EQ(Load("<?xml version=\"1.0\" ?><!-- no element -->"), 1);
    EXPECT_EQ(list.count, 1);
}

// A list longer than the program list holds is refused, not cut short without a word; indexed
// access stays within the list.
TEST_F(ProgramListTest, ListsBeyondTheirBoundAreRefusedAndAccessIsBounded) {
    std::string xml = "<data>";
    for (int i = 0; i < kProgramListCapacity + 5; ++i) {
        xml += Program(std::string("p").append(std::to_string(i)));
    }
    WriteText(dir / "rawprogram0.xml", xml + Program("p0") + "</data>");
    std::string problem;
    ASSERT_EQ(LoadProgramList(list, dir / "rawprogram0.xml", &problem), kProgramListTooLong);
    EXPECT_EQ(problem, "lists more than 1024 partitions (5 more)");
    EXPECT_EQ(list.count, kProgramListCapacity);
    EXPECT_EQ(list.At(1023)->label, "p1023");
    EXPECT_EQ(AddProgramEntry(list, "new", "1", "1", nullptr, nullptr, ""), AddResult::kListFull);
    EXPECT_EQ(AddProgramEntry(list, "P5", "1", "1", nullptr, nullptr, ""), AddResult::kSkipped);
    EXPECT_EQ(list.At(kProgramListCapacity), nullptr);
    EXPECT_EQ(list.At(-1), nullptr);
    EXPECT_EQ(console.str(),
              "Array Index out of bound exception\nArray Index out of bound exception\n");
}

struct RealFile {
    const char* name;
    int entries;
    int emptyFilenames;
};
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

// Counts from tests/data/rawprogram/SOURCES.md ("All 4" and the empty filenames). Named by file,
// so a test keeps its name from build to build.
INSTANTIATE_TEST_SUITE_P(Testdata, RealRawprogramTest,
                         ::testing::Values(RealFile{"msm8974-funsafe-math.xml", 31, 11},
                                           RealFile{"msm8610-aravindvnair99.xml", 36, 0},
                                           RealFile{"msm8917-tadit7.xml", 65, 39},
                                           RealFile{"msm8939-eerenyeager.xml", 31, 22},
                                           RealFile{"msm8909-philcodeex.xml", 42, 0},
                                           RealFile{"msm89xx-kubiko.xml", 31, 11}),
                         [](const ::testing::TestParamInfo<RealFile>& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace veltrix::testing
