#include "diag/prepare_run.h"

#include <array>
#include <charconv>
#include <utility>

#include "diag/emmc_test.h"
#include "diag/model_table.h"
#include "diag/run_state.h"

namespace veltrix {
namespace {

constexpr std::array<std::pair<std::string_view, int>, 4> kEmmcOptions{{
    {"Read only", kEmmcReadOnly},
    {"Read/Write", kEmmcReadWrite},
    {"Write only", kEmmcWriteOnly},
    {"Erase", kEmmcErase},
}};

void StoreSelections(RunState& state, const RunSelections& selections, int comPort) {
    state.selections = selections;
    if (!selections.restoreBootImage) {
        state.selections.restoreLabel.clear();
    }
    state.comPort = comPort;
    // Dump files are only ever read, whatever the option says.
    state.emmcOption = selections.dump ? kEmmcReadOnly : EmmcOptionFromText(selections.option);
    state.ddrLevel = DdrLevelFromText(selections.level);
}

// The eMMC test without a chosen partition (Erase excepted) and the restore without a chosen
// label work through every partition of the program list.
bool WorksOnProgramList(const RunState& state) {
    const RunSelections& s = state.selections;
    const bool emmcOverList =
        s.emmcTest && state.emmcOption != kEmmcErase && s.partitionLabel.empty();
    const bool restoreOverList = s.restoreBootImage && s.restoreLabel.empty();
    return emmcOverList || restoreOverList;
}

bool AnyTestSelected(const RunSelections& s) {
    return s.apCheck || s.emmcTest || s.restoreBootImage || s.sdramTest || s.dump || s.pmicOn;
}

}  // namespace

int EmmcOptionFromText(std::string_view option) {
    for (const auto& [text, value] : kEmmcOptions) {
        if (option == text) {
            return value;
        }
    }
    return kEmmcReadOnly;
}

unsigned DdrLevelFromText(std::string_view level) {
    return level == "1" ? 1 : 0;
}

namespace {

// The checks of PrepareRun, in order, after the selections are stored.
int CheckAndLoad(RunState& state) {
    RunSelections& s = state.selections;
    // A list left by a run that was prepared but never started must not add to this one.
    ClearProgramList(state.programList);
    state.programListProblem.clear();

    if (state.comPort == 0) {
        return kPrepareNoComPort;
    }
    if (s.model.empty()) {
        return kPrepareNoModel;
    }
    if (!AnyTestSelected(s)) {
        return kPrepareNoTest;
    }
    if (s.targetDir.empty()) {
        // PMIC ON needs no partition list: the AP check keeps the operator's choice.
        return s.pmicOn ? kPrepareReady : kPrepareNoTargetDir;
    }
    s.apCheck = true;
    const std::filesystem::path path =
        ModelFolder(state.workDir, s.model) / "boot_partition_info" / "rawprogram0.xml";
    std::string& problem = state.programListProblem;
    const int loaded = LoadProgramList(state.programList, path, &problem);
    if (loaded == kProgramListUnreadable && problem.empty()) {
        return kPrepareNoProgramList;  // no such file
    }
    if (loaded < 0) {
        return kPrepareProgramListUnusable;
    }
    // A test over the whole list that finds it empty would pass without touching the board.
    if (state.programList.count == 0 && WorksOnProgramList(state)) {
        problem = "lists no partition";
        return kPrepareProgramListUnusable;
    }
    return kPrepareReady;
}

}  // namespace

int PrepareRun(RunState& state, const RunSelections& selections, int comPort) {
    StoreSelections(state, selections, comPort);
    return CheckAndLoad(state);
}

int ParseComPort(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    if (at == text.size() || text[at] < '0' || text[at] > '9') {
        return 0;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), value);
    (void)end;
    // No port has a negative number or one beyond int: both read as "no port chosen".
    if (error != std::errc() || negative) {
        return 0;
    }
    return value;
}

std::string PrepareRunMessage(int result, std::string_view problem) {
    if (result == kPrepareProgramListUnusable) {
        return "파티션파일(rawprogram0.xml)을 사용할 수 없습니다.  \n\nrawprogram0.xml " +
               std::string(problem) + ".  ";
    }
    return std::string(PrepareRunMessage(result));
}

std::string_view PrepareRunMessage(int result) {
    switch (result) {
        case kPrepareNoComPort:
            return "COM PORT를 선택해주세요.  \n\nPlease select COM Port.  ";
        case kPrepareNoModel:
            return "모델명을 선택해주세요.  \n\nPlease select Model Name.  ";
        case kPrepareNoTest:
            return "Test를 선택해주세요.  \n\nPlease select Test.  ";
        case kPrepareNoProgramList:
            return "파티션파일(rawprogram0.xml)을 찾을 수 없습니다.  \n\nThere is no partition "
                   "file(rawprogram0.xml).  ";
        case kPrepareNoTargetDir:
            return "Target directory를 선택해주세요.  \n\nPlease select target directory.  ";
        case kPrepareRunInProgress:
            return kTestInProgressMessage;
        default:
            return {};
    }
}

namespace {

// The partitions a write test puts its pattern in, as one text: the chosen one, or the program
// list's (the first few, then how many more).
std::string PatternPartitions(const RunState& state) {
    constexpr int kNamed = 10;
    if (!state.selections.partitionLabel.empty()) {
        return state.selections.partitionLabel;
    }
    std::string text;
    const ProgramList& list = state.programList;
    for (int i = 0; i < list.count && i < kNamed; ++i) {
        text += (i == 0 ? "" : ", ") + list.slots[static_cast<size_t>(i)]->label;
    }
    if (list.count > kNamed) {
        text += " and " + std::to_string(list.count - kNamed) + " more";
    }
    return text;
}

}  // namespace

std::string StartQuestion(const RunState& state) {
    const RunSelections& s = state.selections;
    if (!s.emmcTest) {
        return {};
    }
    if (state.emmcOption == kEmmcErase) {
        return s.model +
               ": 전체 eMMC를 지웁니다. 계속하시겠습니까?  \n\nThis erases the whole eMMC of " +
               s.model + ", not one partition. Continue?  ";
    }
    if (state.emmcOption != kEmmcReadWrite && state.emmcOption != kEmmcWriteOnly) {
        return {};
    }
    const std::string partitions = PatternPartitions(state);
    return s.model + ": " + partitions +
           " 파티션의 첫 섹터에 테스트 패턴을 씁니다. RESTORE BOOT IMG로 이미지를 되돌립니다. "
           "계속하시겠습니까?  \n\nThis writes the test pattern over the first sectors of " +
           partitions + " on " + s.model +
           "; it stays there until RESTORE BOOT IMG puts their images back. Continue?  ";
}

}  // namespace veltrix
