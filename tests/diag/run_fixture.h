#pragma once
// A workbench wired to a recording view, scripted steps and a fake clock, with default answers
// that behave like the real tests: each logs a marker line so run logs can be compared line by
// line, and the two-phase SDRAM test sets ddrWaiting in phase 1 and clears it in phase 2.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "diag/prepare_run.h"
#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "diag/workbench.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_view.h"
#include "tests/support/scripted_steps.h"

namespace veltrix::testing {

inline constexpr int kPort = 5;
using Lines = std::vector<std::string>;

// The AP check's own block on a first connection.
inline const Lines kApSection = {"======== AP CHECK START\n", "AP CHECK = pass\n", "======== END\n",
                                 "\n"};

class RunFixture : public ::testing::Test {
protected:
    RunFixture() {
        bench.state.workDir = "/bench/work";
        steps.SetDefault("RunApCheck", [](Workbench& b) -> int64_t {
            if (b.state.ddrWaiting) {  // wait mode: reconnect only
                AppendLog(b, "Connected to flash programmer\n");
                return 0;
            }
            for (const std::string& line : kApSection) {
                AppendLog(b, line);
            }
            SetResult(b, ResultBox::kAp, kResultPass);
            return 0;
        });
        steps.SetDefault("RunDdrApCheck", Logging("[ddr ap check]\n", 0));
        steps.SetDefault("RunEmmcTest", Logging("[emmc test]\n", 0));
        steps.SetDefault("WriteBootImages", Logging("[write boot images]\n", 0));
        steps.SetDefault("RunSdramLevelTest", Logging("[sdram level test]\n", 0));
        steps.SetDefault("RunPmicControl", Logging("[pmic control]\n", 0));
        steps.SetDefault("RunSdramImageTest", [](Workbench& b) -> int64_t {
            if (!b.state.ddrWaiting) {
                AppendLog(b, "[sdram phase 1]\n");
                b.state.ddrWaiting = true;
                return 0;
            }
            AppendLog(b, "[sdram phase 2]\n");
            b.state.ddrWaiting = false;
            SetResult(b, ResultBox::kSdram, kResultPass);
            return 0;
        });
    }

    // A test that stopped early must not leave the worker held in the view.
    ~RunFixture() override { view.Release(); }

    // An answer that logs one line and gives `result`.
    static ScriptedSteps::Action Logging(std::string line, int64_t result) {
        return [line, result](Workbench& b) {
            AppendLog(b, line);
            return result;
        };
    }

    // The tests ticked besides the AP check.
    enum Ticks : unsigned { kEmmc = 1, kSdram = 2, kPmic = 4 };
    static RunSelections Select(std::string model, unsigned ticks = 0) {
        RunSelections s;
        s.apCheck = true;
        s.emmcTest = (ticks & kEmmc) != 0;
        s.sdramTest = (ticks & kSdram) != 0;
        s.pmicOn = (ticks & kPmic) != 0;
        s.model = std::move(model);
        s.option = "Read/Write";
        s.targetDir = "/bench/target";
        s.level = "1";
        return s;
    }

    // START: fresh display, preparation, the worker; returns when the worker has ended.
    void Run(const RunSelections& selections) {
        view.ClearLog();
        ResetRunDisplay(bench);
        ASSERT_EQ(PrepareRun(bench, selections, kPort), kPrepareReady);
        ASSERT_EQ(StartRun(bench), 0);
        JoinWorker(bench);
        EXPECT_FALSE(RunInProgress(bench));
        ExpectRecordMatchesTheDisplay();
    }

    // The run's record tells what the operator saw: the ending the log shows last and the texts
    // of the three boxes.
    void ExpectRecordMatchesTheDisplay() {
        const RunRecord& record = bench.state.record;
        RunEnding shown = RunEnding::kNone;
        for (const std::string& line : view.Lines()) {
            if (line == "Test Completed !!\n")
                shown = RunEnding::kCompleted;
            if (line == "TEST aborted!!\n")
                shown = RunEnding::kAborted;
        }
        EXPECT_EQ(record.ending, shown);
        for (ResultBox box : {ResultBox::kAp, ResultBox::kEmmc, ResultBox::kSdram}) {
            EXPECT_EQ(record.Box(box), view.Result(box));
        }
    }

    // The model line and the empty line, then `body`, then the elapsed-time line.
    static Lines RunLog(const std::string& model, const Lines& body,
                        const std::string& elapsed = "0 hours 0 minutes 0 seconds") {
        Lines lines = {"[" + model + "]\n", "\n"};
        lines.insert(lines.end(), body.begin(), body.end());
        lines.push_back("Elapsed Time : " + elapsed + "\n");
        return lines;
    }

    FakeClock clock;
    RecordingView view;
    ScriptedSteps steps;
    std::ostringstream console;
    Workbench bench{view, steps, clock, console};
};

// The parts one after the other.
inline Lines Concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

}  // namespace veltrix::testing
