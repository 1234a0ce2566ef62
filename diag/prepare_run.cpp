#include "diag/prepare_run.h"

#include <array>
#include <charconv>
#include <utility>

#include "diag/model_table.h"
#include "diag/run_worker.h"
#include "diag/workbench.h"

namespace veltrix {
namespace {

constexpr std::array<std::pair<std::string_view, int>, 4> kEmmcOptions{{
    {"Read only", kEmmcReadOnly},
    {"Read/Write", kEmmcReadWrite},
    {"Write only", kEmmcWriteOnly},
    {"Erase", kEmmcErase},
}};

void StoreSelections(RunState& state, const RunSelections& selections, int comPort) {
    state.apCheck = selections.apCheck;
    state.emmcTest = selections.emmcTest;
    state.restoreBootImage = selections.restoreBootImage;
    state.sdramTest = selections.sdramTest;
    state.dump = selections.dump;
    state.pmicOn = selections.pmicOn;
    state.model = selections.model;
    state.partitionLabel = selections.partitionLabel;
    state.targetDir = selections.targetDir;
    state.restoreLabel = selections.restoreBootImage ? selections.restoreLabel : std::string();
    state.comPort = comPort;
    // Dump files are only ever read, whatever the option says.
    state.emmcOption = selections.dump ? kEmmcReadOnly : EmmcOptionFromText(selections.option);
    state.ddrLevel = DdrLevelFromText(selections.level);
}

bool AnyTestSelected(const RunState& state) {
    return state.apCheck || state.emmcTest || state.restoreBootImage || state.sdramTest ||
           state.dump || state.pmicOn;
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
int CheckAndLoad(Workbench& bench) {
    RunState& state = bench.state;
    // A list left by a run that was prepared but never started must not add to this one.
    ClearProgramList(state.programList);

    if (state.comPort == 0) {
        return kPrepareNoComPort;
    }
    if (state.model.empty()) {
        return kPrepareNoModel;
    }
    if (!AnyTestSelected(state)) {
        return kPrepareNoTest;
    }
    if (state.targetDir.empty()) {
        // PMIC ON needs no partition list: the AP check keeps the operator's choice.
        return state.pmicOn ? kPrepareReady : kPrepareNoTargetDir;
    }
    state.apCheck = true;
    const std::filesystem::path path =
        ModelFolder(state.workDir, state.model) / "boot_partition_info" / "rawprogram0.xml";
    if (bench.steps.LoadProgramList(bench, path) < 0) {
        return kPrepareNoProgramList;
    }
    return kPrepareReady;
}

}  // namespace

int PrepareRun(Workbench& bench, const RunSelections& selections, int comPort) {
    // The worker of the previous run reads these tables until its very last step.
    if (RunInProgress(bench)) {
        return kPrepareRunInProgress;
    }
    bench.state.record = RunRecord{};
    StoreSelections(bench.state, selections, comPort);
    const int result = CheckAndLoad(bench);
    if (result != kPrepareReady) {
        bench.state.record.ending = RunEnding::kRefused;
    }
    return result;
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
