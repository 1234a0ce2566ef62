#include "tests/support/scripted_steps.h"

#include <algorithm>

#include "base/text_format.h"
#include "diag/workbench.h"

namespace veltrix::testing {
namespace {

constexpr int64_t kScriptedSectorTotal = 0x1D5A000;

std::string WithArgument(const std::string& operation, const std::string& argument) {
    return operation + "(" + argument + ")";
}

}  // namespace

void ScriptedSteps::Answer(const std::string& operation, int64_t result) {
    Answer(operation, [result](Workbench&) { return result; });
}

void ScriptedSteps::Answer(const std::string& operation, Action action) {
    std::lock_guard lock(mutex_);
    queued_[operation].push_back(std::move(action));
}

void ScriptedSteps::SetDefault(const std::string& operation, Action action) {
    std::lock_guard lock(mutex_);
    defaults_[operation] = std::move(action);
}

std::vector<std::string> ScriptedSteps::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

int ScriptedSteps::CallCount(std::string_view operation) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [&](const auto& call) {
        return call == operation || call.rfind(std::string(operation) + "(", 0) == 0;
    }));
}

int64_t ScriptedSteps::Next(Workbench& bench, const std::string& operation,
                            const std::string& call) {
    Action action;
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
        auto& queue = queued_[operation];
        if (!queue.empty()) {
            action = std::move(queue.front());
            queue.pop_front();
        } else if (auto found = defaults_.find(operation); found != defaults_.end()) {
            action = found->second;
        }
    }
    if (action) {
        return action(bench);
    }
    if (operation == "GetPhysicalPartitionInfo") {
        return kScriptedSectorTotal;
    }
    if (operation == "LoadProgramList") {
        AddProgramEntry(bench.state.programList, "sbl1", "34", "1000", nullptr, nullptr,
                        "sbl1.mbn");
        return 1;
    }
    return 0;
}

int ScriptedSteps::RunApCheck(Workbench& bench, int comPort) {
    return static_cast<int>(
        Next(bench, "RunApCheck", WithArgument("RunApCheck", std::to_string(comPort))));
}

int ScriptedSteps::RunDdrApCheck(Workbench& bench, int comPort, uint32_t /*portWaitMs*/) {
    return static_cast<int>(
        Next(bench, "RunDdrApCheck", WithArgument("RunDdrApCheck", std::to_string(comPort))));
}

int ScriptedSteps::OpenPartition(Workbench& bench) {
    return static_cast<int>(Next(bench, "OpenPartition", "OpenPartition"));
}

int ScriptedSteps::ClosePartition(Workbench& bench) {
    return static_cast<int>(Next(bench, "ClosePartition", "ClosePartition"));
}

int ScriptedSteps::ResetTarget(Workbench& bench) {
    return static_cast<int>(Next(bench, "ResetTarget", "ResetTarget"));
}

int64_t ScriptedSteps::GetPhysicalPartitionInfo(Workbench& bench) {
    return Next(bench, "GetPhysicalPartitionInfo", "GetPhysicalPartitionInfo");
}

int ScriptedSteps::RunEmmcTest(Workbench& bench, int emmcOption) {
    return static_cast<int>(
        Next(bench, "RunEmmcTest", WithArgument("RunEmmcTest", std::to_string(emmcOption))));
}

int ScriptedSteps::WriteBootImages(Workbench& bench, const std::string& label) {
    return static_cast<int>(Next(bench, "WriteBootImages", WithArgument("WriteBootImages", label)));
}

int ScriptedSteps::RunSdramImageTest(Workbench& bench) {
    return static_cast<int>(Next(bench, "RunSdramImageTest", "RunSdramImageTest"));
}

int ScriptedSteps::RunSdramLevelTest(Workbench& bench, int comPort) {
    return static_cast<int>(Next(bench, "RunSdramLevelTest",
                                 WithArgument("RunSdramLevelTest", std::to_string(comPort))));
}

int ScriptedSteps::RunPmicControl(Workbench& bench) {
    return static_cast<int>(Next(bench, "RunPmicControl", "RunPmicControl"));
}

int ScriptedSteps::LoadProgramList(Workbench& bench, const std::filesystem::path& path) {
    return static_cast<int>(
        Next(bench, "LoadProgramList", WithArgument("LoadProgramList", path.string())));
}

int ScriptedSteps::ClosePort(Workbench& bench) {
    return static_cast<int>(Next(bench, "ClosePort", "ClosePort"));
}

int ScriptedSteps::Transact(Workbench& bench, const uint8_t* request, int requestLength, uint8_t*,
                            int& replyLength) {
    std::string bytes;
    for (int i = 0; i < requestLength; ++i) {
        bytes += Format("%s%02X", i == 0 ? "" : " ", request[i]);
    }
    replyLength = 0;
    return static_cast<int>(Next(bench, "Transact", WithArgument("Transact", bytes)));
}

}  // namespace veltrix::testing
