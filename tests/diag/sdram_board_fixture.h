#pragma once
// Whole runs against the simulated board on a real pseudo-terminal: a temporary work directory
// with model folders (flash programmer, DDR-debug image, test images, rawprogram0.xml), a target
// directory with partition.txt and its boot images, the shipped device steps, and a clock that
// does not sleep but can bring the board back on cue.
//
// The steps are the shipped ones, except that the eMMC test is stood in for (it logs one line and
// passes) and that the boot-image restore can be told to fail for a label.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "diag/ap_check.h"
#include "diag/device_steps.h"
#include "diag/prepare_run.h"
#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "diag/workbench.h"
#include "layout/partition_index.h"
#include "layout/partition_txt.h"
#include "link/serial_link.h"
#include "protocol/streaming.h"
#include "sim/simulated_board.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_view.h"

namespace veltrix::testing {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline constexpr int kBoardPort = 14;

// Every Sleep is recorded on the fake clock; the n-th sleep of a given length runs `cue` first
// (the board coming back, the operator pressing Cancel).
class CueClock final : public Clock {
public:
    void Sleep(uint32_t ms) override {
        inner.Sleep(ms);
        if (ms == cueMs && ++seen == cueCount && cue) {
            cue();
        }
    }
    bool SleepUnlessCancelled(uint32_t ms, const std::atomic<bool>& cancel) override {
        if (cancel) {
            return false;
        }
        Sleep(ms);
        return !cancel;
    }
    int64_t NowSeconds() override { return inner.NowSeconds(); }
    void CueAt(uint32_t ms, int count, std::function<void()> action) {
        cueMs = ms;
        cueCount = count;
        seen = 0;
        cue = std::move(action);
    }
    int Count(uint32_t ms) const {
        int n = 0;
        for (uint32_t s : inner.Sleeps()) {
            n += s == ms ? 1 : 0;
        }
        return n;
    }

    FakeClock inner;
    uint32_t cueMs = 0;
    int cueCount = 0;
    int seen = 0;
    std::function<void()> cue;
};

// The shipped steps, with the eMMC test stood in for and restore failures on request.
class BoardSteps final : public RunSteps {
public:
    int RunApCheck(Workbench& b, int port) override { return device.RunApCheck(b, port); }
    int RunDdrApCheck(Workbench& b, int port, uint32_t waitMs) override {
        return device.RunDdrApCheck(b, port, waitMs);
    }
    int OpenPartition(Workbench& b) override { return device.OpenPartition(b); }
    int ClosePartition(Workbench& b) override { return device.ClosePartition(b); }
    int ResetTarget(Workbench& b) override { return device.ResetTarget(b); }
    int64_t GetPhysicalPartitionInfo(Workbench& b) override {
        return device.GetPhysicalPartitionInfo(b);
    }
    int RunEmmcTest(Workbench& b, int) override {
        AppendLog(b, "[emmc test]\n");
        return 0;
    }
    int WriteBootImages(Workbench& b, const std::string& label) override;
    int RunSdramImageTest(Workbench& b) override { return device.RunSdramImageTest(b); }
    int RunSdramLevelTest(Workbench& b, int port) override {
        return device.RunSdramLevelTest(b, port);
    }
    int RunPmicControl(Workbench& b) override { return device.RunPmicControl(b); }
    int LoadProgramList(Workbench& b, const fs::path& path) override {
        return device.LoadProgramList(b, path);
    }
    int ClosePort(Workbench& b) override { return device.ClosePort(b); }
    int Transact(Workbench& b, const uint8_t* request, int length, uint8_t* reply,
                 int& replyLength) override {
        return device.Transact(b, request, length, reply, replyLength);
    }

    DeviceSteps device;
    std::set<std::string> failLabels;   // WriteBootImages of these labels gives 29
    std::vector<std::string> restores;  // the labels WriteBootImages was called with
};

inline int BoardSteps::WriteBootImages(Workbench& b, const std::string& label) {
    restores.push_back(label);
    return failLabels.count(label) ? kErrorWriteFault : device.WriteBootImages(b, label);
}

// Partitions of the target directory: label, start sector, sector count. Their images are
// "<label>.mbn" in the target directory.
struct TestPartition {
    std::string label;
    uint32_t start;
    uint32_t count;
};

inline const std::vector<TestPartition> kAllPartitions = {
    {"PrimaryGPT", 0, 34}, {"sbl1", 64, 8},     {"sbl2", 128, 8},
    {"OEMSBL1", 192, 8},   {"OEMSBL2", 256, 8}, {"QCSBL", 320, 8},
};

inline Bytes Pattern(size_t n, uint8_t seed) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<uint8_t>(seed * 31 + i * 7 + (i >> 8));
    }
    return out;
}

inline void WriteBytes(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

class SdramBoardFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/veltrix-board-run-XXXXXX";
        folder_ = mkdtemp(templ);
        setenv("VELTRIX_PORTS", (folder_ / "ports").c_str(), 1);
        target_ = folder_ / "target";
        bench_.state.targetDir = target_.string();
        bench_.state.workDir = folder_;
        options_.portNumber = kBoardPort;
        options_.portsFolder = folder_ / "ports";
        options_.emmcSize = 16ull << 20;
        options_.resetDelayMs = -1;  // the board comes back when a test says so
        options_.resetGraceMs = 500;
        options_.helloDelayMs = 5;
        options_.saharaDataIdleMs = 60;
    }
    void TearDown() override {
        CancelRun(bench_);
        JoinWorker(bench_);
        view_.Release();
        ClosePort(bench_.link);
        board_.reset();
        unsetenv("VELTRIX_PORTS");
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    // The model folder for `model` of loader family `family`: the programmer (Intel HEX for
    // DLOAD families, raw for Sahara), the DDR-debug image, the four test images, and a
    // rawprogram0.xml. The target directory with partition.txt for `partitions` and their images.
    void UseModel(const std::string& model, int family,
                  const std::vector<TestPartition>& partitions = kAllPartitions);

    fs::path ModelDir() const { return folder_ / "model" / bench_.state.model; }
    fs::path TestImage(const std::string& name) const { return ModelDir() / "test_image" / name; }

    void StartBoard() {
        board_ = std::make_unique<sim::SimulatedBoard>(options_);
        std::string error;
        ASSERT_TRUE(board_->Start(&error)) << error;
    }
    // The board held away after its first RESET comes back; waits until its port can be opened.
    // (The host has the RESET answer before the board has left: wait for it to be away first.)
    void BringBoardBack() {
        ASSERT_TRUE(board_->WaitUntil([&] { return board_->resets() >= 1; }, 5000));
        board_->BringBack();
        ASSERT_TRUE(board_->WaitUntil(
            [&] { return board_->mode() != sim::BoardMode::kAway && !board_->linkPath().empty(); },
            5000));
    }
    Bytes Emmc(uint32_t sector, size_t length) const {
        Bytes out(length);
        EXPECT_TRUE(board_->ReadEmmc(uint64_t{sector} * 512, out));
        return out;
    }

    // The programmer running with the flash open, as the sequencer leaves it before the SDRAM
    // test.
    void ConnectAndOpen() {
        ASSERT_EQ(RunApCheck(bench_, kBoardPort), 0) << console_.str();
        ASSERT_EQ(OpenPartition(bench_.state.session), 0);
        view_.ClearLog();
        bench_.state.logLineCount = 0;
    }

    // START: the partition index, preparation, the worker; returns once the worker has ended.
    void Run(unsigned ticks) {
        RunSelections s;
        s.apCheck = true;
        s.model = bench_.state.model;
        s.emmcTest = (ticks & kEmmc) != 0;
        s.sdramTest = (ticks & kSdram) != 0;
        s.pmicOn = (ticks & kPmic) != 0;
        s.option = "Read only";
        s.targetDir = (ticks & kPmic) ? "" : target_.string();
        s.level = level_;
        Start(s);
        JoinWorker(bench_);
    }
    void Start(const RunSelections& s) {
        if (!s.targetDir.empty()) {
            ASSERT_EQ(LoadPartitionIndex(bench_.index, target_, view_), 0);
        }
        view_.ClearLog();
        ResetRunDisplay(bench_);
        ASSERT_EQ(PrepareRun(bench_, s, kBoardPort), kPrepareReady);
        ASSERT_EQ(StartRun(bench_), 0);
    }
    enum Ticks : unsigned { kEmmc = 1, kSdram = 2, kPmic = 4 };

    // The lines of the log from the first that equals `first`, `count` of them.
    std::vector<std::string> LinesFrom(const std::string& first, size_t count) const {
        const auto lines = view_.Lines();
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i] == first) {
                return {
                    lines.begin() + static_cast<std::ptrdiff_t>(i),
                    lines.begin() + static_cast<std::ptrdiff_t>(std::min(lines.size(), i + count))};
            }
        }
        return {};
    }

    fs::path folder_;
    fs::path target_;
    std::string level_ = "0";
    sim::BoardOptions options_;
    std::unique_ptr<sim::SimulatedBoard> board_;
    RecordingView view_;
    BoardSteps steps_;
    CueClock clock_;
    std::ostringstream console_;
    Workbench bench_{view_, steps_, clock_, console_};
};

inline void SdramBoardFixture::UseModel(const std::string& model, int family,
                                        const std::vector<TestPartition>& partitions) {
    bench_.state.model = model;
    options_.loaderFamily = family;
    const fs::path dir = ModelDir();
    const Bytes programmer = Pattern(3000, 1);
    const fs::path bin = folder_ / "programmer.bin";
    WriteBytes(bin, programmer);
    WriteBytes(dir / "ddr_debug.mbn", Pattern(2500, 2));
    options_.ddrImagePath = dir / "ddr_debug.mbn";
    if (family == 0) {
        WriteBytes(dir / "2nd_loader.hex", programmer);
    } else {
        const std::string cmd = "objcopy -I binary -O ihex --change-addresses 0x10000 '" +
                                bin.string() + "' '" + (dir / "2nd_loader.hex").string() + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    uint8_t seed = 10;
    for (const char* name : {"sbl1.mbn", "sbl2.mbn", "oemsblhd.mbn", "oemsbl.mbn"}) {
        WriteBytes(TestImage(name), Pattern(1500, seed++));
    }
    options_.sdramTestImagePath = TestImage(family == 0   ? "sbl1.mbn"
                                            : family == 2 ? "oemsblhd.mbn"
                                                          : "sbl2.mbn");
    fs::create_directories(dir / "boot_partition_info");
    std::ofstream(dir / "boot_partition_info" / "rawprogram0.xml")
        << "<?xml version=\"1.0\" ?><data><program label=\"sbl1\" start_sector=\"64\" "
           "num_partition_sectors=\"8\" filename=\"sbl1.mbn\"/></data>";

    std::vector<PartitionTxtRecord> records;
    for (const TestPartition& p : partitions) {
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
    options_.partitionTxt = target_ / "partition.txt";
    ASSERT_EQ(LoadPartitionIndex(bench_.index, target_, view_), 0);
}

}  // namespace veltrix::testing
