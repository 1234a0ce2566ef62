#include "tests/support/scripted_tests.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "diag/run_context.h"
#include "link/serial_link.h"
#include "protocol/programmer_session.h"
#include "protocol/streaming.h"

namespace veltrix::testing {
namespace {

ScriptedTests::Action Marker(const std::string& line, int result = kErrorSuccess) {
    return [line, result](ScriptedCall& call) {
        call.ctx.Log(line);
        return result;
    };
}

// Opens the port (the board may still be coming back from a reset) and, unless the DDR-debug
// image answers there, greets the programmer; logs `lines`.
int OpenAndLog(ScriptedCall& call, const std::vector<std::string>& lines, bool handshake = true) {
    SerialLink& link = *call.session.link;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (link.Open() != kErrorSuccess && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!link.IsOpen() || (handshake && ConnectProgrammer(call.session) != kErrorSuccess)) {
        call.ctx.Log("Serial port open FAILED..\n");
        return kErrorGenFailure;
    }
    for (const std::string& line : lines) {
        call.ctx.Log(line);
    }
    return kErrorSuccess;
}

// The defaults, by operation.
ScriptedTests::Action Default(const std::string& operation) {
    if (operation == "CheckAp") {
        return [](ScriptedCall& call) {
            const int result = OpenAndLog(call, kApSection);
            if (result == kErrorSuccess) {
                call.ctx.SetResult(ResultBox::kAp, kResultPass);
            }
            return result;
        };
    }
    if (operation == "ReconnectAfterDdrTest") {
        return [](ScriptedCall& call) {
            return OpenAndLog(call, {"Connected to flash programmer\n"});
        };
    }
    if (operation == "CheckApWithDdrImage") {
        return [](ScriptedCall& call) {
            return OpenAndLog(call, {"[ddr ap check]\n"}, /*handshake=*/false);
        };
    }
    if (operation == "SdramTestPhase2") {
        return [](ScriptedCall& call) {
            call.ctx.Log("[sdram phase 2]\n");
            call.ctx.SetResult(ResultBox::kSdram, kResultPass);
            return kErrorSuccess;
        };
    }
    static const std::map<std::string, std::string> kMarkers = {
        {"TestEmmc", "[emmc test]\n"},
        {"RestoreBootImages", "[write boot images]\n"},
        {"SdramTestPhase1", "[sdram phase 1]\n"},
        {"SdramLevelTest", "[sdram level test]\n"},
        {"PmicControl", "[pmic control]\n"},
    };
    return Marker(kMarkers.at(operation));
}

// One run's tests, answered from the script.
class Bound final : public BoardTests {
public:
    Bound(ScriptedTests& script, RunContext& ctx, ProgrammerSession& session)
        : script_(script), ctx_(ctx), session_(session) {}

    int CheckAp() override { return Call("CheckAp", Port()); }
    int ReconnectAfterDdrTest(bool mayRetry, uint32_t) override {
        return Call("ReconnectAfterDdrTest", Port() + (mayRetry ? ",retry" : ""));
    }
    int CheckApWithDdrImage(uint32_t waitMs) override {
        return Call("CheckApWithDdrImage", Port() + "," + std::to_string(waitMs));
    }
    int TestEmmc(const EmmcChoice& c) override {
        return Call("TestEmmc",
                    std::to_string(c.option) + "," + c.partition + (c.dump ? ",dump" : ""));
    }
    int RestoreBootImages(const std::string& label) override {
        return Call("RestoreBootImages", label);
    }
    int SdramTestPhase1(SdramLeftovers& left) override {
        return Call("SdramTestPhase1", "", &left);
    }
    int SdramTestPhase2(SdramLeftovers& left) override {
        return Call("SdramTestPhase2", "", &left);
    }
    int SdramLevelTest(uint32_t level) override {
        return Call("SdramLevelTest", Port() + "," + std::to_string(level));
    }
    int PmicControl() override { return Call("PmicControl", ""); }

private:
    // The port the engine bound the link to.
    std::string Port() const { return std::to_string(session_.link->portNumber()); }
    int Call(const std::string& operation, const std::string& arguments,
             SdramLeftovers* leftovers = nullptr) {
        ScriptedCall call{ctx_, session_, leftovers};
        return script_.Next(operation, operation + "(" + arguments + ")", call);
    }
    ScriptedTests& script_;
    RunContext& ctx_;
    ProgrammerSession& session_;
};

}  // namespace

void ScriptedTests::Answer(const std::string& operation, int result) {
    Answer(operation, [result](ScriptedCall&) { return result; });
}

void ScriptedTests::Answer(const std::string& operation, Action action) {
    std::lock_guard lock(mutex_);
    queued_[operation].push_back(std::move(action));
}

std::vector<std::string> ScriptedTests::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

int ScriptedTests::CallCount(std::string_view operation) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [&](const auto& call) {
        return call.rfind(std::string(operation) + "(", 0) == 0;
    }));
}

int ScriptedTests::Next(const std::string& operation, const std::string& call, ScriptedCall& on) {
    Action action;
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
        auto& queue = queued_[operation];
        if (!queue.empty()) {
            action = std::move(queue.front());
            queue.pop_front();
        }
    }
    if (!action) {
        action = Default(operation);
    }
    return action(on);
}

MakeBoardTests ScriptedTests::Maker() {
    return [this](RunContext& ctx, ProgrammerSession& session, const RunFiles&) {
        return std::make_unique<Bound>(*this, ctx, session);
    };
}

}  // namespace veltrix::testing
