#pragma once
// Run steps for tests: every call is recorded ("RunApCheck(5)", "Transact(15)", ...) and answered
// from a script: queued answers per operation in call order, then the operation's default. An
// answer may act on the workbench first (set ddrWaiting, log lines, advance a clock), so every
// branch of a run can be driven.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "diag/run_steps.h"

namespace veltrix::testing {

class ScriptedSteps final : public RunSteps {
public:
    using Action = std::function<int64_t(Workbench&)>;

    // Queues the answer to the next call of `operation` not yet answered.
    void Answer(const std::string& operation, int64_t result);
    void Answer(const std::string& operation, Action action);
    // The answer once the queue of `operation` is used up (0 unless set; LoadProgramList adds one
    // entry "sbl1" and gives 1; GetPhysicalPartitionInfo gives 0x1D5A000).
    void SetDefault(const std::string& operation, Action action);

    // Every call so far, in order.
    std::vector<std::string> Calls() const;
    int CallCount(std::string_view operation) const;

    int RunApCheck(Workbench& bench, int comPort) override;
    int RunDdrApCheck(Workbench& bench, int comPort, uint32_t portWaitMs) override;
    int OpenPartition(Workbench& bench) override;
    int ClosePartition(Workbench& bench) override;
    int ResetTarget(Workbench& bench) override;
    int64_t GetPhysicalPartitionInfo(Workbench& bench) override;
    int RunEmmcTest(Workbench& bench, int emmcOption) override;
    int WriteBootImages(Workbench& bench, const std::string& label) override;
    int RunSdramImageTest(Workbench& bench) override;
    int RunSdramLevelTest(Workbench& bench, int comPort) override;
    int RunPmicControl(Workbench& bench) override;
    int LoadProgramList(Workbench& bench, const std::filesystem::path& path) override;
    int ClosePort(Workbench& bench) override;
    int Transact(Workbench& bench, const uint8_t* request, int requestLength, uint8_t* reply,
                 int& replyLength) override;

private:
    // Records `call` and runs the answer for `operation` outside the lock.
    int64_t Next(Workbench& bench, const std::string& operation, const std::string& call);

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::map<std::string, std::deque<Action>> queued_;
    std::map<std::string, Action> defaults_;
};

}  // namespace veltrix::testing
