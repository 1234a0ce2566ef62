#pragma once
// A run engine on a bench scene, as a front end would hold it: a recording view, a fake clock
// whose waits cost nothing, a console the test reads. And the pieces one test on the board takes
// when a test calls it directly.

#include <chrono>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "diag/board_tests.h"
#include "diag/run_context.h"
#include "diag/run_engine.h"
#include "diag/run_files.h"
#include "layout/partition_index.h"
#include "layout/program_list.h"
#include "link/serial_link.h"
#include "protocol/programmer_session.h"
#include "tests/support/bench_scene.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_view.h"

namespace veltrix::testing {

// The parts one after the other: expected logs and flash contents are written as their parts.
template <typename T>
std::vector<T> Join(std::initializer_list<std::vector<T>> parts) {
    std::vector<T> all;
    for (const std::vector<T>& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// The AP check's block in the run log when the flash programmer connects.
inline const Lines kApCheckPass = {"======== AP CHECK START\n",
                                   "Waiting for the device to connect in flash prg\n",
                                   "Connected to flash programmer\n",
                                   "AP CHECK = pass\n",
                                   "======== END\n",
                                   "\n"};

class EngineRig {
public:
    explicit EngineRig(const BenchScene& scene, MakeBoardTests makeTests = MakeDeviceTests);
    ~EngineRig();

    // START with `selections` at `port`, then waits (at most 20 s) for the run's end. Start's
    // result; a run that did not end in time fails the test.
    int Run(const RunSelections& selections, int port);
    // START alone: the run goes on.
    int Start(const RunSelections& selections, int port);
    // Waits for the run's end and collects its thread.
    bool WaitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(20));

    const RunRecord& record() const { return engine.Record(); }
    // The log between the model line's empty line and the elapsed-time line.
    Lines Body() const;
    // The log lines from the first that equals `first`, at most `count` of them.
    Lines LinesFrom(const std::string& first, size_t count) const;
    // The log lines after the first that starts with `prefix`, up to the elapsed-time line (not
    // included); the whole log when no line starts so.
    Lines After(const std::string& prefix) const;

    RecordingView view;
    FakeClock clock;
    std::ostringstream console;
    RunEngine engine;
};

// A test on the board called on its own: a context over a recording view and a fake clock, a
// session over a link bound to the scene's board port (kBoardPort) and opened by the test, and
// the run's files of `model` on the scene.
struct TestRig {
    TestRig(const BenchScene& scene, const std::string& model);
    ~TestRig();
    // Reloads the partition index from the scene's target directory.
    void LoadIndex();
    // The model's program list from its rawprogram0.xml.
    void LoadProgramList();
    // What START does to the outputs before a run: the log emptied, the boxes "N/T", a fresh
    // record, the cancel flag cleared.
    void NewRun();
    // The board as the sequencer leaves it before a test: index and program list loaded, the AP
    // check passed, the flash opened; then NewRun. 0, or the code of the step that failed.
    int ConnectAndOpen(int comPort);

    RecordingView view;
    FakeClock clock;
    std::ostringstream console;
    RunContext ctx{view, clock};
    SerialLink link{clock, &console};
    ProgrammerSession session;
    PartitionIndex index;
    ProgramList programList;
    RunFiles files;
};

// The selections of common runs on the scene's target directory.
RunSelections EmmcRun(const BenchScene& scene, const std::string& model, const std::string& option,
                      const std::string& partition = "", bool dump = false);
RunSelections RestoreRun(const BenchScene& scene, const std::string& model,
                         const std::string& label = "");
RunSelections SdramRun(const BenchScene& scene, const std::string& model, bool emmc = false,
                       const std::string& level = "0");

}  // namespace veltrix::testing
