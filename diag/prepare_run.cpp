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
    if (LoadProgramList(state.programList, path) < 0) {
        return kPrepareNoProgramList;
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

}  // namespace veltrix
