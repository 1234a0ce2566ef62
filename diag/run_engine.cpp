#include "diag/run_engine.h"

#include <new>
#include <system_error>
#include <utility>

#include "base/text_format.h"
#include "diag/emmc_test.h"
#include "diag/model_table.h"
#include "diag/partition_read.h"
#include "diag/prepare_run.h"
#include "diag/run_endings.h"
#include "diag/run_files.h"
#include "diag/run_sequencer.h"
#include "diag/run_worker.h"

namespace veltrix {

namespace {

constexpr uint32_t kSecondMs = 1000;

// The index reader's message boxes, kept instead of shown.
class QuietView final : public LogView {
public:
    void InsertLogLine(int, const std::string&) override {}
    void DeleteLogLine(int) override {}
    void SelectLastLogLine() override {}
    void ShowMessage(const std::string& text) override { message = text; }
    std::string message;
};

}  // namespace

RunEngine::RunEngine(RunView& view, std::ostream& console, Clock& clock,
                     std::filesystem::path workDir, MakeBoardTests makeTests)
    : view_(view), link_(clock, &console), context_(view, clock), makeTests_(std::move(makeTests)) {
    link_.WatchCancel(&context_.cancelFlag());
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

int RunEngine::Start(const RunSelections& selections, int comPort, const Confirm& confirm) {
    view_.PushStatus("");
    view_.SetProgress(0);
    if (InProgress()) {
        view_.ShowMessage(std::string(kTestInProgressMessage));
        return kPrepareRunInProgress;
    }
    // The previous worker has finished its last step; collect its thread.
    Join();
    report_ = RunReport{};
    report_.model = selections.model;
    report_.port = std::to_string(comPort);
    report_.selections = selections;
    report_.started = UtcText(context_.clock().NowSeconds());
    const int prepared = Prepare(selections, comPort);
    // A run that is not wanted, or not possible, leaves the last run's log and boxes as they are.
    if (prepared == kPrepareNoPartitionIndex) {
        return Refuse(prepared, indexProblem_);
    }
    if (prepared != kPrepareReady) {
        const std::string message = PrepareRunMessage(prepared, state_.programListProblem);
        if (!message.empty()) {
            view_.ShowMessage(message);
        }
        return Refuse(prepared, message);
    }
    // Erase takes the whole eMMC, and the write tests leave their pattern: the front end may ask.
    if (const std::string question = StartQuestion(state_);
        confirm && !question.empty() && !confirm(question)) {
        return Refuse(kErrorOperationAborted, "not confirmed by the operator");
    }
    // The run's link serves this board's port, and only that one, until the next run.
    link_.Bind(state_.comPort);
    session_.readWindow = selections.readWindow;
    context_.BeginRun();
    view_.ClearLog();
    state_.running = true;
    workerActive_ = true;
    try {
        worker_ = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
        state_.running = false;
        workerActive_ = false;
        return Refuse(kErrorNotEnoughMemory, "the run could not be started (no thread)");
    }
    return kErrorSuccess;
}

int RunEngine::Refuse(int result, const std::string& why) {
    ClearProgramList(state_.programList);
    context_.RefuseRun(why);
    report_.record = context_.record();
    report_.refusal = EnglishPart(why);
    report_.exitStatus = ExitStatusOf(report_.record);
    return result;
}

// START's partition index and preparation: kPrepareReady, kPrepareNoPartitionIndex (the index
// reader has said why; `indexProblem_` says it in words), or PrepareRun's refusal.
int RunEngine::Prepare(const RunSelections& selections, int comPort) {
    // PMIC ON without a target directory needs no partitions; every other run needs the index.
    if (selections.targetDir.empty() && selections.pmicOn) {
        index_ = PartitionIndex{};
    } else {
        const std::filesystem::path target = PathFromUtf8(selections.targetDir);
        const int loaded = LoadPartitionIndex(index_, target, view_);
        if (index_.imagePartitionCount == 0) {
            indexProblem_ =
                loaded == kErrorFileNotFound ? "no partition.txt in " + target.string()
                : loaded != kErrorSuccess
                    ? "partition.txt in " + target.string() + " cannot be read"
                    : "partition.txt in " + target.string() +
                          " lists no partitions: extract the total binary image into it again";
            return kPrepareNoPartitionIndex;
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
    link_.Close();
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

std::optional<std::vector<std::string>> RunEngine::ReloadPartitionChoices(
    const std::filesystem::path& targetDir, std::string* problem) {
    problem->clear();
    if (InProgress()) {
        return std::nullopt;
    }
    QuietView quiet;
    if (LoadPartitionIndex(index_, targetDir, quiet) != kErrorSuccess) {
        *problem = quiet.message;
        return std::nullopt;
    }
    return veltrix::PartitionChoices(index_);
}

// Pass 1, and when it handed over to a DDR test on the board, pass 2 after the DDR wait and, if
// pass 2 asked for it, the one retry pass.
void RunEngine::RunPasses(const RunPass& pass) {
    RunSequencer(pass);
    if (!state_.ddrWaiting) {
        return;
    }
    context_.Log("Waiting for DDR test....\n");
    // The board tests its memory meanwhile; the status line and the view count the wait down.
    const int seconds = static_cast<int>(kDdrTestWaitMs / kSecondMs);
    for (int left = seconds; left > 0; --left) {
        context_.Status(Format("DDR test on the board: %d s left", left));
        context_.WaitShown(left, seconds);
        if (!context_.Wait(kSecondMs)) {
            context_.WaitShown(0, seconds);
            return;
        }
    }
    context_.WaitShown(0, seconds);
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
    state_.sdramLeftovers = SdramLeftovers{};
    const RunSelections& s = state_.selections;
    const std::filesystem::path modelFolder = ModelFolder(state_.workDir, s.model);
    std::filesystem::path dumpFolder = modelFolder / kDumpFolderName;
    if (dumpsPerPort_) {
        dumpFolder /= "COM" + std::to_string(state_.comPort);
    }
    const RunFiles files{s.model, modelFolder,        PathFromUtf8(s.targetDir),
                         index_,  state_.programList, dumpFolder};
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
    const int64_t elapsed = context_.clock().NowSeconds() - start;
    context_.Log(ElapsedTimeLine(elapsed));
    ClearProgramList(state_.programList);
    report_.record = context_.record();
    report_.log = context_.Lines();
    report_.elapsedSeconds = elapsed;
    report_.exitStatus = ExitStatusOf(report_.record);
    workerActive_ = false;
    view_.RunEnded();
}

}  // namespace veltrix
