#include "tests/support/engine_rig.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "diag/ap_check.h"
#include "diag/model_table.h"
#include "protocol/streaming.h"

namespace veltrix::testing {

EngineRig::EngineRig(const BenchScene& scene, MakeBoardTests makeTests)
    : engine(view, console, clock, scene.workDir(), std::move(makeTests)) {}

EngineRig::~EngineRig() {
    view.Release();  // a test that stopped early must not leave the worker held in the view
    engine.ShutDown();
}

int EngineRig::Start(const RunSelections& selections, int port) {
    return engine.Start(selections, port);
}

bool EngineRig::WaitForEnd(std::chrono::milliseconds timeout) {
    const bool ended = view.WaitRunEnded(timeout);
    if (ended) {
        engine.Join();
    }
    return ended;
}

int EngineRig::Run(const RunSelections& selections, int port) {
    const int started = Start(selections, port);
    if (started == kErrorSuccess) {
        EXPECT_TRUE(WaitForEnd()) << "the run did not end";
        EXPECT_FALSE(engine.InProgress());
    }
    return started;
}

Lines EngineRig::Body() const {
    const Lines all = view.Lines();
    if (all.size() < 3) {
        return {};
    }
    return Lines(all.begin() + 2, all.end() - 1);
}

Lines EngineRig::LinesFrom(const std::string& first, size_t count) const {
    const Lines all = view.Lines();
    const auto at = std::find(all.begin(), all.end(), first);
    const auto end = at + static_cast<std::ptrdiff_t>(
                              std::min<size_t>(count, static_cast<size_t>(all.end() - at)));
    return Lines(at, end);
}

Lines EngineRig::After(const std::string& prefix) const {
    const Lines all = view.Lines();
    const auto at = std::find_if(all.begin(), all.end(),
                                 [&](const std::string& line) { return line.starts_with(prefix); });
    if (at == all.end()) {
        return all;
    }
    const bool elapsed = all.back().starts_with("Elapsed Time : ");
    return Lines(at + 1, elapsed ? all.end() - 1 : all.end());
}

TestRig::TestRig(const BenchScene& scene, const std::string& model)
    : files{model,       scene.ModelFolder(model),         scene.targetDir(), index,
            programList, scene.ModelFolder(model) / "dump"} {
    link.WatchCancel(&ctx.cancelFlag());
    link.Bind(kBoardPort);  // the scene's board, unless a test binds another
    session.link = &link;
    programList.console = &console;
}

TestRig::~TestRig() {
    link.Close();
}

void TestRig::LoadIndex() {
    LoadPartitionIndex(index, files.targetDir, view);
}

void TestRig::LoadProgramList() {
    ClearProgramList(programList);
    veltrix::LoadProgramList(programList,
                             files.modelFolder / "boot_partition_info" / "rawprogram0.xml");
}

void TestRig::NewRun() {
    ctx.BeginRun();
    view.ClearLog();
}

int TestRig::ConnectAndOpen(int comPort) {
    LoadIndex();
    LoadProgramList();
    link.Bind(comPort);
    if (const int result = RunApCheck(ctx, session, files); result != kErrorSuccess) {
        return result;
    }
    const int opened = OpenPartition(session);
    NewRun();
    return opened;
}

// The AP check on `model` over the scene's target directory: what every common run starts from.
static RunSelections BaseRun(const BenchScene& scene, const std::string& model) {
    RunSelections s;
    s.apCheck = true;
    s.model = model;
    s.targetDir = scene.targetDir().string();
    return s;
}

RunSelections EmmcRun(const BenchScene& scene, const std::string& model, const std::string& option,
                      const std::string& partition, bool dump) {
    RunSelections s = BaseRun(scene, model);
    s.emmcTest = true;
    s.dump = dump;
    s.partitionLabel = partition;
    s.option = option;
    return s;
}

RunSelections RestoreRun(const BenchScene& scene, const std::string& model,
                         const std::string& label) {
    RunSelections s = BaseRun(scene, model);
    s.restoreBootImage = true;
    s.restoreLabel = label;
    return s;
}

RunSelections SdramRun(const BenchScene& scene, const std::string& model, bool emmc,
                       const std::string& level) {
    RunSelections s = BaseRun(scene, model);
    s.emmcTest = emmc;
    s.sdramTest = true;
    s.option = "Read only";
    s.level = level;
    return s;
}

}  // namespace veltrix::testing
