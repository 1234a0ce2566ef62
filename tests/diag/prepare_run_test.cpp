// Run preparation: result codes in their order, the option and level mapping, what is stored.

#include "diag/prepare_run.h"

#include <gmock/gmock.h>

#include "tests/diag/run_fixture.h"

namespace veltrix::testing {
namespace {

class PrepareRunTest : public RunFixture {};

struct CodeCase {
    const char* name;
    void (*change)(RunSelections&, int& port);
    int code;
};
// Test names stay the same from build to build: the case prints as its name.
void PrintTo(const CodeCase& c, std::ostream* os) {
    *os << c.name;
}

class PrepareCodeTest : public RunFixture, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(PrepareCodeTest, GivesTheFirstFailingCheck) {
    RunSelections s = Select("Corvin (MSM8974)");
    int port = kPort;
    GetParam().change(s, port);
    EXPECT_EQ(PrepareRun(bench, s, port), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, PrepareCodeTest,
    ::testing::Values(CodeCase{"Ready", [](RunSelections&, int&) {}, 1},
                      // The port is checked first, even when everything else is missing too.
                      CodeCase{"NoPortBeforeAnythingElse",
                               [](RunSelections& s, int& port) {
                                   port = 0;
                                   s.model.clear();
                                   s.apCheck = false;
                                   s.targetDir.clear();
                               },
                               -1},
                      CodeCase{"NoModel",
                               [](RunSelections& s, int&) {
                                   s.model.clear();
                                   s.apCheck = false;
                               },
                               -2},
                      CodeCase{"NoTest", [](RunSelections& s, int&) { s.apCheck = false; }, -3},
                      CodeCase{"NoTargetDir", [](RunSelections& s, int&) { s.targetDir.clear(); },
                               -5},
                      CodeCase{"PmicWithoutTargetDir",
                               [](RunSelections& s, int&) {
                                   s.targetDir.clear();
                                   s.pmicOn = true;
                               },
                               1},
                      CodeCase{"OnlyDumpTicked",
                               [](RunSelections& s, int&) {
                                   s.apCheck = false;
                                   s.dump = true;
                               },
                               1}),
    [](const auto& info) { return info.param.name; });

TEST_F(PrepareRunTest, UnloadableProgramListGivesMinus4EvenForTheApCheckAlone) {
    steps.Answer("LoadProgramList", -1);
    EXPECT_EQ(PrepareRun(bench, Select("Corvin (MSM8974)"), kPort), kPrepareNoProgramList);
    EXPECT_EQ(bench.state.programList.count, 0);
}

TEST_F(PrepareRunTest, TargetDirForcesTheApCheckAndLoadsTheModelsList) {
    RunSelections s = Select("Corvin (MSM8974) ");  // typed, with a trailing space
    s.apCheck = false;
    s.emmcTest = true;
    ASSERT_EQ(PrepareRun(bench, s, kPort), 1);
    EXPECT_TRUE(bench.state.apCheck);
    EXPECT_THAT(steps.Calls(),
                ::testing::ElementsAre("LoadProgramList(/bench/work/model/Corvin (MSM8974) /"
                                       "boot_partition_info/rawprogram0.xml)"));
}

TEST_F(PrepareRunTest, PmicWithoutTargetDirKeepsTheApCheckChoiceAndLoadsNothing) {
    RunSelections s = Select("Corvin (MSM8974)");
    s.apCheck = false;
    s.pmicOn = true;
    s.targetDir.clear();
    ASSERT_EQ(PrepareRun(bench, s, kPort), 1);
    EXPECT_FALSE(bench.state.apCheck);
    EXPECT_EQ(steps.CallCount("LoadProgramList"), 0);
}

TEST_F(PrepareRunTest, SelectionsAreStoredEvenWhenACheckFails) {
    RunSelections s = Select("Marlo (MSM7225)");
    s.emmcTest = true;
    s.partitionLabel = "system";
    s.restoreLabel = "aboot";  // dropped: RESTORE BOOT IMG is not ticked
    s.targetDir.clear();
    ASSERT_EQ(PrepareRun(bench, s, kPort), kPrepareNoTargetDir);
    EXPECT_EQ(bench.state.model, "Marlo (MSM7225)");
    EXPECT_EQ(bench.state.partitionLabel, "system");
    EXPECT_EQ(bench.state.restoreLabel, "");
    EXPECT_EQ(bench.state.comPort, kPort);
    EXPECT_TRUE(bench.state.emmcTest);

    s.restoreBootImage = true;
    PrepareRun(bench, s, kPort);
    EXPECT_EQ(bench.state.restoreLabel, "aboot");
}

TEST_F(PrepareRunTest, AListLeftByARunThatNeverStartedIsNotAddedTo) {
    ASSERT_EQ(PrepareRun(bench, Select("Corvin (MSM8974)"), kPort), 1);
    steps.Answer("LoadProgramList", [](Workbench& b) -> int64_t {
        AddProgramEntry(b.state.programList, "aboot", "0", "2048", nullptr, nullptr, "a.mbn");
        return 1;
    });
    ASSERT_EQ(PrepareRun(bench, Select("Tamsin (APQ8064)"), kPort), 1);
    ASSERT_EQ(bench.state.programList.count, 1);
    EXPECT_EQ(bench.state.programList.At(0)->label, "aboot");
}

TEST_F(PrepareRunTest, OptionAndLevelTextsMapExactly) {
    struct Case {
        const char* option;
        bool dump;
        int emmcOption;
    };
    const Case options[] = {
        {"Read only", false, 1}, {"Read/Write", false, 2}, {"Write only", false, 3},
        {"Erase", false, 4},     {"read only", false, 1},  {"Erase ", false, 1},
        {"", false, 1},          {"Erase", true, 1},       {"Read/Write", true, 1},
    };
    const RunSelections base = Select("Corvin (MSM8974)");
    for (const Case& c : options) {
        RunSelections s = base;
        s.option = c.option;
        s.dump = c.dump;
        PrepareRun(bench, s, kPort);
        EXPECT_EQ(bench.state.emmcOption, c.emmcOption) << '"' << c.option << "\" dump " << c.dump;
    }

    const std::pair<const char*, unsigned> levels[] = {{"1", 1}, {"0", 0},  {"01", 0},
                                                       {"2", 0}, {"1 ", 0}, {"", 0}};
    for (const auto& [level, ddrLevel] : levels) {
        RunSelections s = base;
        s.level = level;
        PrepareRun(bench, s, kPort);
        EXPECT_EQ(bench.state.ddrLevel, ddrLevel) << '"' << level << '"';
    }
}

TEST(ParseComPortTest, ReadsTheLeadingDecimalNumber) {
    const std::pair<const char*, int> cases[] = {
        {"7", 7}, {"99", 99}, {" 12", 12},        {"+3", 3}, {"3x", 3}, {"", 0},    {"COM3", 0},
        {"x", 0}, {"-3", 0},  {"99999999999", 0}, {"0", 0},  {"+", 0},  {"+-3", 0}, {"\t4", 4},
    };
    for (const auto& [text, port] : cases) {
        EXPECT_EQ(ParseComPort(text), port) << '"' << text << '"';
    }
}

TEST_F(PrepareRunTest, NonNumericPortTextIsMissingPort) {
    EXPECT_EQ(PrepareRun(bench, Select("Corvin (MSM8974)"), ParseComPort("COM3")),
              kPrepareNoComPort);
}

}  // namespace
}  // namespace veltrix::testing
