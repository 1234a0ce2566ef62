#pragma once
// The run engine: what a front end (the window, the command line, a test) uses to run the tests
// on a board. Its face is small: start a run from the selections and the port (START's whole
// sequence), cancel it, ask whether one is in progress, read its record, shut down. The link, the
// run's state, the partition index and the worker thread are its own.
//
// Threads: every call comes from the front end's thread. A run goes on a worker thread of the
// engine, which talks to the front end only through the run view (whose calls return once the
// front end has taken them) and tells the view when the run has ended (RunView::RunEnded, on the
// worker thread, as its last call). Several engines can serve several boards.

#include <atomic>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "diag/board_tests.h"
#include "diag/run_context.h"
#include "diag/run_record.h"
#include "diag/run_report.h"
#include "diag/run_selections.h"
#include "diag/run_sequencer.h"
#include "diag/run_state.h"
#include "diag/run_view.h"
#include "layout/partition_index.h"
#include "link/clock.h"
#include "link/serial_link.h"
#include "protocol/programmer_session.h"

namespace veltrix {

class RunEngine {
public:
    // `workDir` holds the "model" folder of every run. The link's diagnostics go to `console`;
    // every wait goes through `clock`. `makeTests` makes each run's tests on the board (tests of
    // the sequencer stand in for them; everything else is the board at the wire).
    RunEngine(RunView& view, std::ostream& console, Clock& clock, std::filesystem::path workDir,
              MakeBoardTests makeTests = MakeDeviceTests);
    // Shuts down.
    ~RunEngine();
    RunEngine(const RunEngine&) = delete;
    RunEngine& operator=(const RunEngine&) = delete;

    // START: a fresh status line and progress bar; "Test in progress" while a run is in
    // progress; the partition index from the target directory (no run without one, except PMIC
    // ON without a target directory); the selections prepared (a refusal shows its message); the
    // run's question (StartQuestion: Erase, or a write test's pattern) put to `confirm`, when
    // given; then the boxes to "N/T", the log emptied and the worker started. A START that does
    // not start leaves the last run's log and boxes as they are.
    // 0 when the run started; otherwise kPrepareRunInProgress, kPrepareNoPartitionIndex, a
    // negative kPrepare code, kErrorOperationAborted when `confirm` said no, or
    // kErrorNotEnoughMemory when no thread could be made (the record says "refused", and why).
    using Confirm = std::function<bool(const std::string& question)>;
    int Start(const RunSelections& selections, int comPort, const Confirm& confirm = {});

    // Asks the run to stop: every wait of the worker returns within about 100 ms, no message box
    // of the run is shown any more, and the run ends as aborted, port closed, record marked
    // cancelled. Harmless when no run is active.
    void Cancel();

    // From START until the worker has written its last line and emptied the program list.
    bool InProgress() const;

    // How the last run ended and what its boxes say. Read it once InProgress() is false.
    const RunRecord& Record() const { return context_.record(); }
    // The last run's report, whole (selections, start, elapsed time on the engine's clock, the
    // record, the log and the exit status), or that of the last START that did not start. Read
    // it once InProgress() is false.
    const RunReport& Report() const { return report_; }

    // Cancels a run in progress, waits for the worker and closes the port. Call it from a thread
    // the worker does not wait on (a view whose calls block on that thread must stop blocking
    // first).
    void ShutDown();

    // Waits for the worker of a run that has ended (after RunEnded); nothing while none ran.
    void Join();

    // Dump files go to the model's "dump" folder, or with `perPort` to a folder of the board's
    // own under it ("dump/COM3"), so that boards of one model tested side by side never write
    // one another's dumps.
    void KeepDumpsPerPort(bool perPort) { dumpsPerPort_ = perPort; }

    // What a partition combo shows when dropped down: with an empty index the index is loaded
    // from `targetDir` and nothing is returned (the list is not refilled this time); otherwise
    // the labels of the index.
    std::optional<std::vector<std::string>> PartitionChoices(
        const std::filesystem::path& targetDir);

    // The partition combos of a target directory just chosen: the index reloaded from
    // `targetDir`, without a message box, and its labels. Nothing when partition.txt cannot be
    // read (the index is then empty and `*problem` holds the reader's message), or while a run is
    // in progress (the worker reads the index; it is left alone and `*problem` is empty).
    std::optional<std::vector<std::string>> ReloadPartitionChoices(
        const std::filesystem::path& targetDir, std::string* problem);

private:
    int Prepare(const RunSelections& selections, int comPort);
    // A START that does not start: the record says "refused" and why; returns `result`.
    int Refuse(int result, const std::string& why);
    void Work();
    void RunPasses(const RunPass& pass);

    RunView& view_;
    SerialLink link_;
    ProgrammerSession session_;
    RunContext context_;
    RunState state_;
    PartitionIndex index_;
    MakeBoardTests makeTests_;
    std::thread worker_;
    // Set by Start, cleared by the worker as its very last step (after the elapsed-time line and
    // the program list).
    std::atomic<bool> workerActive_{false};
    RunReport report_;
    bool dumpsPerPort_ = false;
    std::string indexProblem_;
};

}  // namespace veltrix
