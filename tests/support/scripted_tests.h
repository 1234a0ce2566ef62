#pragma once
// Tests on the board for the tests of the sequencer and of the front ends: every call is recorded
// ("CheckAp(14)", "TestEmmc(2,sbl1)", ...) and answered from a script: queued answers per
// operation in call order, then the operation's default. The defaults do what the sequencer sees
// of the real tests: each logs one marker line ("[emmc test]"), and the AP checks open the port,
// greet the programmer and log their section, so the sequencer's own requests (open, partition
// info, close, reset) go to the board at the wire: a simulated board whose programmer already
// runs.

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "diag/board_tests.h"

namespace veltrix::testing {

// What a scripted answer may act on.
struct ScriptedCall {
    RunContext& ctx;
    ProgrammerSession& session;
    SdramLeftovers* leftovers;  // the SDRAM phases only
};

class ScriptedTests {
public:
    using Action = std::function<int(ScriptedCall&)>;

    // Queues the answer to the next call of `operation` ("CheckAp", "TestEmmc", ...).
    void Answer(const std::string& operation, int result);
    void Answer(const std::string& operation, Action action);

    std::vector<std::string> Calls() const;
    int CallCount(std::string_view operation) const;

    // Makes each run's tests, answered from this script.
    MakeBoardTests Maker();

    // The next call's answer: the queued one, or the default.
    int Next(const std::string& operation, const std::string& call, ScriptedCall& on);

private:
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::map<std::string, std::deque<Action>> queued_;
};

// The AP check's block on a first connection, as the defaults log it.
inline const std::vector<std::string> kApSection = {"======== AP CHECK START\n",
                                                    "AP CHECK = pass\n", "======== END\n", "\n"};

}  // namespace veltrix::testing
