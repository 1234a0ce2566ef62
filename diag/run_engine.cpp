#include "diag/run_engine.h"

#include <new>
#include <system_error>
#include <utility>

#include "base/text_format.h"
#include "diag/emmc_test.h"
#include "diag/model_table.h"
#include "diag/prepare_run.h"
#include "diag/run_endings.h"
#include "diag/run_files.h"
#include "diag/run_sequencer.h"
#include "diag/run_worker.h"

namespace veltrix {

namespace {
constexpr uint32_t kSecondMs = 1000;
}  // namespace

RunEngine::RunEngine(RunView& view, std::ostream& console, Clock& clock,
                     std::filesystem::path workDir, MakeBoardTests makeTests)
    : view_(view), context_(view, clock), makeTests_(std::move(makeTests)) {
    link_.clock = &clock;
    link_.console = &console;
    link_.cancel = &context_.cancelFlag();
    session_.link = &link_;
    state_.programList.console = &console;
    state_.workDir = std::move(workDir);
}

RunEngine::~RunEngine() {
    ShutDown();
}

bool RunEngine::InProgress() const {
    return state_.running || workerActive_;
}

int RunEngine::Start(const RunSelections& selections, int comPort,
                     const std::function<bool()>& confirmErase) {
    view_.PushStatus("");
    view_.SetProgress(0);
    if (InProgress()) {
        view_.ShowMessage(std::string(kTestInProgressMessage));
        return kPrepareRunInProgress;
    }
    // The previous worker has finished its last step; collect its thread.
    Join();
    const int prepared = Prepare(selections, comPort);
    if (prepared == kStartNoPartitionIndex) {
        context_.RefuseRun();
        return prepared;
    }
    // Erase takes the whole eMMC, whatever partition is chosen: the front end may ask first. A
    // run that is not wanted leaves the last run's log and boxes as they are.
    if (prepared == kPrepareReady && confirmErase && state_.selections.emmcTest &&
        state_.emmcOption == kEmmcErase && !confirmErase()) {
        ClearProgramList(state_.programList);
        context_.RefuseRun();
        return kErrorOperationAborted;
    }
    context_.BeginRun();
    view_.ClearLog();
    if (prepared != kPrepareReady) {
        context_.RefuseRun();
        if (const std::string_view message = PrepareRunMessage(prepared); !message.empty()) {
            view_.ShowMessage(std::string(message));
        }
        return prepared;
    }
    state_.running = true;
    workerActive_ = true;
    try {
        worker_ = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
        state_.running = false;
        workerActive_ = false;
        context_.RefuseRun();
        ClearProgramList(state_.programList);
        return kErrorNotEnoughMemory;
    }
    return kErrorSuccess;
}

// START's partition index and preparation: kPrepareReady, kStartNoPartitionIndex (the index
// reader has said why), or PrepareRun's refusal.
int RunEngine::Prepare(const RunSelections& selections, int comPort) {
    // PMIC ON without a target directory needs no partitions; every other run needs the index.
    if (selections.targetDir.empty() && selections.pmicOn) {
        index_ = PartitionIndex{};
    } else {
        LoadPartitionIndex(index_, PathFromUtf8(selections.targetDir), view_);
        if (index_.imagePartitionCount == 0) {
            return kStartNoPartitionIndex;
        }
    }
    return PrepareRun(state_, selections, comPort);
}

void RunEngine::Cancel() {
    if (InProgress()) {
        context_.Cancel();
    }
}

void RunEngine::Join() {
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) {
        worker_.join();
    }
}

void RunEngine::ShutDown() {
    Cancel();
    Join();
    ClosePort(link_);
}

std::optional<std::vector<std::string>> RunEngine::PartitionChoices(
    const std::filesystem::path& targetDir) {
    if (InProgress()) {
        // The worker reads the index: it is not reloaded under it.
        return index_.imagePartitionCount > 0
                   ? std::optional<std::vector<std::string>>(veltrix::PartitionChoices(index_))
                   : std::nullopt;
    }
    return FillPartitionChoices(index_, targetDir, view_);
}

// Pass 1, and when it handed over to a DDR test on the board, pass 2 after the DDR wait and, if
// pass 2 asked for it, the one retry pass.
void RunEngine::RunPasses(const RunPass& pass) {
    RunSequencer(pass);
    if (!state_.ddrWaiting) {
        return;
    }
    context_.Log("Waiting for DDR test....\n");
    // The board tests its memory meanwhile; the status line counts the wait down.
    for (uint32_t left = kDdrTestWaitMs / kSecondMs; left > 0; --left) {
        context_.Status(Format("DDR test on the board: %u s left", left));
        if (!context_.Wait(kSecondMs)) {
            return;
        }
    }
    RunSequencer(pass);
    if (state_.apRetried) {
        if (!context_.Wait(kRetryWaitMs)) {
            return;
        }
        state_.apRetried = false;
        RunSequencer(pass);
    }
}

void RunEngine::Work() {
    // A retry asked for in an earlier run must not use up this run's one retry.
    state_.apRetried = false;
    state_.ddrWaiting = false;
    state_.testImagesOnBoard = false;
    const RunSelections& s = state_.selections;
    const RunFiles files{s.model, ModelFolder(state_.workDir, s.model), PathFromUtf8(s.targetDir),
                         index_, state_.programList};
    const int64_t start = context_.clock().NowSeconds();
    try {
        const std::unique_ptr<BoardTests> tests = makeTests_(context_, session_, files);
        context_.Log(Format("[%s]\n", s.model.c_str()));
        context_.Log(kEmptyLine);
        RunPasses(RunPass{context_, *tests, session_, state_});
    } catch (const std::bad_alloc&) {
        // The PC ran out of memory: the run ends as aborted below, its record written.
        context_.NoteFaultOffBoard("the PC ran out of memory",
                                   "close other programs, then start again");
    }
    // The last pass ended with no ending (the retry pass asked for another retry, or the run was
    // cancelled during a wait): the run failed, and `running` must not stay set.
    if (state_.running) {
        AbortRun(context_, link_, state_);
    }
    context_.Log(ElapsedTimeLine(context_.clock().NowSeconds() - start));
    ClearProgramList(state_.programList);
    workerActive_ = false;
    view_.RunEnded();
}

}  // namespace veltrix
