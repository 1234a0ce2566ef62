#include "tests/diag/fault_matrix_fixture.h"

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "cli/exit_status.h"
#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "layout/partition_index.h"
#include "link/serial_link.h"
#include "tests/diag/sdram_board_fixture.h"

namespace veltrix::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kDloadModel = "Tamsin (APQ8064)";       // loader family 1, PMIC family 1
constexpr const char* kDdrModel = "Hadley Loxley (MSM8226)";  // Sahara, DDR-debug image
constexpr auto kRunBound = 10s;
constexpr auto kBoardBackBound = 3s;
constexpr auto kRealPauseOfAWait = 5ms;

// The system's port with every time-out cut to kCappedTimeoutMs.
class CappedPort final : public SerialPort {
public:
    explicit CappedPort(std::unique_ptr<SerialPort> inner) : inner_(std::move(inner)) {}
    int Open(const fs::path& device) override { return inner_->Open(device); }
    void Close() override { inner_->Close(); }
    bool IsOpen() const override { return inner_->IsOpen(); }
    void SetTimeout(uint32_t ms) override { inner_->SetTimeout(std::min(ms, kCappedTimeoutMs)); }
    int Read(uint8_t* buffer, size_t capacity, size_t* got) override {
        return inner_->Read(buffer, capacity, got);
    }
    int Write(const uint8_t* bytes, size_t length) override { return inner_->Write(bytes, length); }
    void Purge() override { inner_->Purge(); }
    void WatchCancel(const std::atomic<bool>* cancel) override { inner_->WatchCancel(cancel); }
    std::string LastErrorText() const override { return inner_->LastErrorText(); }

private:
    std::unique_ptr<SerialPort> inner_;
};

bool IsDdrModelRun(const MatrixTest& test) {
    return test.run == MatrixRun::kDdrLevel;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The SDRAM verdict lines of the log: "DDR TEST = " and the verdict as read.
std::vector<std::string> Verdicts(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.starts_with("DDR TEST = ")) {
            std::string v = line.substr(11, 4);
            std::transform(v.begin(), v.end(), v.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            out.push_back(v);
        }
    }
    return out;
}

}  // namespace

void FaultMatrixFixture::SetUp() {
    char templ[] = "/tmp/veltrix-faults-XXXXXX";
    folder_ = mkdtemp(templ);
    setenv("VELTRIX_PORTS", (folder_ / "ports").c_str(), 1);
    target_ = folder_ / "target";
    const fs::path dload = folder_ / "model" / kDloadModel;
    const fs::path ddr = folder_ / "model" / kDdrModel;
    const Bytes programmer = Pattern(3000, 1);
    WriteBytes(folder_ / "programmer.bin", programmer);
    WriteBytes(ddr / "2nd_loader.hex", programmer);  // served raw through Sahara
    WriteBytes(ddr / "ddr_debug.mbn", Pattern(2500, 2));
    fs::create_directories(dload / "dump");
    const std::string hex = "objcopy -I binary -O ihex --change-addresses 0x10000 '" +
                            (folder_ / "programmer.bin").string() + "' '" +
                            (dload / "2nd_loader.hex").string() + "'";
    ASSERT_EQ(std::system(hex.c_str()), 0);
    WriteBytes(dload / "test_image" / "sbl2.mbn", Pattern(1500, 3));
    for (const fs::path& model : {dload, ddr}) {
        fs::create_directories(model / "boot_partition_info");
        std::ofstream(model / "boot_partition_info" / "rawprogram0.xml")
            << "<?xml version=\"1.0\" ?><data><program label=\"sbl1\" start_sector=\"64\" "
               "num_partition_sectors=\"8\" filename=\"sbl1.mbn\"/></data>";
    }
    std::vector<PartitionTxtRecord> records;
    uint8_t seed = 20;
    for (const TestPartition& p : kAllPartitions) {
        PartitionTxtRecord r;
        r.startSector = p.start;
        r.sectorCount = p.count;
        std::copy(p.label.begin(), p.label.end(), r.label.begin());
        const std::string file = p.label + ".mbn";
        std::copy(file.begin(), file.end(), r.fileName.begin());
        records.push_back(r);
        WriteBytes(target_ / file, Pattern(p.count * 512, seed++));
    }
    ASSERT_EQ(WritePartitionTxt(target_, records), 0);
}

void FaultMatrixFixture::TearDown() {
    board_.reset();
    unsetenv("VELTRIX_PORTS");
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

sim::BoardOptions FaultMatrixFixture::OptionsFor(const MatrixTest& test) const {
    sim::BoardOptions o;
    o.portNumber = kBoardPort;
    o.portsFolder = folder_ / "ports";
    o.emmcSize = 16ull << 20;
    o.resetDelayMs = 20;
    o.resetGraceMs = 500;
    o.helloDelayMs = 5;
    o.saharaDataIdleMs = 60;
    o.partitionTxt = target_ / "partition.txt";
    if (IsDdrModelRun(test)) {
        o.loaderFamily = 0;
        o.pmicFamily = 6;
        o.ddrImagePath = folder_ / "model" / kDdrModel / "ddr_debug.mbn";
    } else {
        o.loaderFamily = 1;
        o.sdramTestImagePath = folder_ / "model" / kDloadModel / "test_image" / "sbl2.mbn";
    }
    return o;
}

RunSelections FaultMatrixFixture::SelectionsFor(const MatrixTest& test) const {
    RunSelections s;
    s.apCheck = true;
    s.model = IsDdrModelRun(test) ? kDdrModel : kDloadModel;
    s.targetDir = target_.string();
    s.option = "Read only";
    s.level = "0";
    s.partitionLabel = "sbl1";
    switch (test.run) {
        case MatrixRun::kApCheck:
            break;
        case MatrixRun::kEmmcReadOnly:
        case MatrixRun::kEmmcDump:
            s.emmcTest = true;
            s.dump = test.run == MatrixRun::kEmmcDump;
            break;
        case MatrixRun::kEmmcReadWrite:
            s.emmcTest = true;
            s.option = "Read/Write";
            break;
        case MatrixRun::kRestore:
            s.restoreBootImage = true;
            break;
        case MatrixRun::kPmicOn:
            s.pmicOn = true;
            s.targetDir.clear();
            break;
        case MatrixRun::kTwoPhaseSdram:
        case MatrixRun::kDdrLevel:
            s.sdramTest = true;
            break;
    }
    return s;
}

void FaultMatrixFixture::StartBoard(const sim::BoardOptions& options) {
    board_.reset();
    boardOptions_ = options;
    board_ = std::make_unique<sim::SimulatedBoard>(options);
    std::string error;
    ASSERT_TRUE(board_->Start(&error)) << error;
}

CellOutcome FaultMatrixFixture::RunCell(const MatrixTest& test, const sim::Fault& fault) {
    StartBoard(OptionsFor(test));
    board_->InjectFault(fault);
    CellOutcome out = RunToEnd(SelectionsFor(test));
    // A cell whose fault never struck would test nothing: its request must have come.
    const auto journal = board_->RequestJournal();
    const auto watched = std::count_if(journal.begin(), journal.end(), [&](const Bytes& r) {
        return fault.command == sim::kAnyCommand || (!r.empty() && r[0] == fault.command);
    });
    out.faultReached = watched > fault.skip;
    return out;
}

CellOutcome FaultMatrixFixture::RunToEnd(const RunSelections& selections) {
    CellOutcome out;
    RecordingView view;
    DeviceSteps steps;
    FakeClock clock;
    clock.onSleep = [] { std::this_thread::sleep_for(kRealPauseOfAWait); };
    std::ostringstream console;
    Workbench bench{view, steps, clock, console};
    bench.link.portFactory = [] { return std::make_unique<CappedPort>(MakeSystemSerialPort()); };
    bench.state.workDir = folder_;
    if (!selections.targetDir.empty()) {
        EXPECT_EQ(LoadPartitionIndex(bench.index, target_, view), 0);
    }
    ResetRunDisplay(bench);
    EXPECT_EQ(PrepareRun(bench, selections, kBoardPort), kPrepareReady);
    EXPECT_EQ(StartRun(bench), 0);
    const auto start = std::chrono::steady_clock::now();
    while (RunInProgress(bench) && std::chrono::steady_clock::now() - start < kRunBound) {
        std::this_thread::sleep_for(2ms);
    }
    out.endedInTime = !RunInProgress(bench);
    CancelRun(bench);  // a run past its bound is stopped, so the matrix goes on
    JoinWorker(bench);
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    out.lines = view.Lines();
    out.record = bench.state.record;
    for (size_t i = 0; i < out.shownBoxes.size(); ++i) {
        out.shownBoxes[i] = view.Result(static_cast<ResultBox>(i));
    }
    out.exitStatus = cli::ExitStatusFor(out.record);
    out.portOpenAfter = PortIsOpen(bench.link);
    out.running = bench.state.running;
    out.ddrWaiting = bench.state.ddrWaiting;
    out.console = console.str();
    return out;
}

void FaultMatrixFixture::ExpectCleanEnd(const CellOutcome& cell) {
    EXPECT_TRUE(cell.endedInTime) << Describe(cell);
    EXPECT_TRUE(cell.faultReached) << Describe(cell);
    const std::vector<std::string>& lines = cell.lines;
    ASSERT_GE(lines.size(), 3u) << Describe(cell);
    EXPECT_TRUE(lines.back().starts_with("Elapsed Time : ")) << Describe(cell);
    const std::string& ending = lines[lines.size() - 2];
    const auto endings = std::count(lines.begin(), lines.end(), "Test Completed !!\n") +
                         std::count(lines.begin(), lines.end(), "TEST aborted!!\n");
    EXPECT_EQ(endings, 1) << Describe(cell);
    if (ending == "Test Completed !!\n") {
        EXPECT_EQ(cell.record.ending, RunEnding::kCompleted) << Describe(cell);
    } else {
        EXPECT_EQ(ending, "TEST aborted!!\n") << Describe(cell);
        EXPECT_EQ(cell.record.ending, RunEnding::kAborted) << Describe(cell);
        EXPECT_FALSE(cell.ddrWaiting);
    }
    EXPECT_FALSE(cell.record.cancelled);
    EXPECT_FALSE(cell.portOpenAfter);
    EXPECT_FALSE(cell.running);
    EXPECT_EQ(cell.shownBoxes, cell.record.boxes);
    // Each box says what the log says.
    EXPECT_EQ(cell.record.Box(ResultBox::kAp) == kResultPass, HasLine(lines, "AP CHECK = pass\n"))
        << Describe(cell);
    EXPECT_EQ(cell.record.Box(ResultBox::kEmmc) == kResultPass,
              HasLine(lines, "EMMC TEST = pass\n"))
        << Describe(cell);
    const std::vector<std::string> verdicts = Verdicts(lines);
    const std::string& sdram = cell.record.Box(ResultBox::kSdram);
    EXPECT_EQ(sdram == kResultNotTested, verdicts.empty()) << Describe(cell);
    if (!verdicts.empty()) {
        EXPECT_EQ(sdram, verdicts.back() == "pass" ? kResultPass : kResultFail) << Describe(cell);
    }
    const bool pmicFailLine = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("FAIL to get PMIC status.") ||
               line.starts_with("FAIL to set PMIC on.");
    });
    EXPECT_EQ(cell.record.pmicFailed, pmicFailLine && cell.record.ending == RunEnding::kCompleted)
        << Describe(cell);
}

void FaultMatrixFixture::ExpectPortFreeAndBoardUsable(const MatrixTest& test,
                                                      const sim::Fault& fault,
                                                      const CellOutcome& cell) {
    // A stalled reply's second half still comes once its pause is over; a run that opens the
    // port before then reads it as the answer to its first request. Wait it out.
    if (fault.kind == sim::FaultKind::kStall) {
        const double left = fault.ms - cell.seconds * 1000;
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(left) + 50));
    }
    // Back from a RESET (the link goes before the board leaves), or still there.
    ASSERT_TRUE(board_->WaitUntil(
        [&] {
            const fs::path link = board_->linkPath();
            return board_->mode() != sim::BoardMode::kAway && !link.empty() && fs::exists(link);
        },
        static_cast<int>(std::chrono::milliseconds(kBoardBackBound).count())));
    {
        SerialLink fresh;
        EXPECT_EQ(OpenPort(fresh, kBoardPort), 0) << fresh.lastError;
    }
    board_->ClearFaults();
    const sim::BoardMode mode = board_->mode();
    if (mode != sim::BoardMode::kDloadRom && mode != sim::BoardMode::kSaharaRom) {
        StartBoard(boardOptions_);
    }
    RunSelections apOnly;
    apOnly.apCheck = true;
    apOnly.model = SelectionsFor(test).model;
    apOnly.targetDir = target_.string();
    const CellOutcome next = RunToEnd(apOnly);
    EXPECT_EQ(next.record.ending, RunEnding::kCompleted) << Describe(next);
    EXPECT_EQ(next.record.Box(ResultBox::kAp), kResultPass);
}

int FaultMatrixFixture::ExitFor(char expected) {
    switch (expected) {
        case 'P':
            return cli::kExitPassed;
        case 'F':
            return cli::kExitTestFailed;
        default:
            return cli::kExitAborted;
    }
}

std::string FaultMatrixFixture::Describe(const CellOutcome& cell) {
    std::string text = "run log (" + std::to_string(cell.seconds) + " s):\n";
    for (const std::string& line : cell.lines) {
        text += "  | " + line + (line.ends_with('\n') ? "" : "\n");
    }
    return text + "console:\n" + cell.console;
}

}  // namespace veltrix::testing
