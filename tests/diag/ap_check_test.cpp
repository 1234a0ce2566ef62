// The AP check against the simulated board on a real pseudo-terminal: the DLOAD and Sahara
// uploads, the handshake, the DDR wait mode and the failures an operator meets.
#include "diag/ap_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "diag/device_steps.h"
#include "diag/workbench.h"
#include "link/serial_link.h"
#include "sim/simulated_board.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_view.h"

namespace veltrix {
namespace {

namespace fs = std::filesystem;
using testing::FakeClock;
using testing::RecordingView;

constexpr int kPort = 12;
constexpr const char* kDloadModel = "Tamsin (APQ8064)";
constexpr const char* kSaharaModel = "Corvin (MSM8974)";

// A clock whose n-th Sleep of a given length runs a hook: the board comes back on cue.
class CueClock final : public Clock {
public:
    void Sleep(uint32_t ms) override {
        inner.Sleep(ms);
        if (ms == kDdrPollWaitMs && ++polls == cuePoll && cue)
            cue();
        if (ms == kReopenPollMs && realSleepMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(realSleepMs));
        if (onSleep)
            onSleep(ms);
    }
    bool SleepUnlessCancelled(uint32_t ms, const std::atomic<bool>& cancel) override {
        if (cancel)
            return false;
        Sleep(ms);
        return !cancel;
    }
    int64_t NowSeconds() override { return inner.NowSeconds(); }
    FakeClock inner;
    int polls = 0;
    int cuePoll = 0;
    std::function<void()> cue;
    int realSleepMs = 0;  // real time each reopen poll takes, so a vanished board can come back
    std::function<void(uint32_t)> onSleep;
};

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (auto& b : out)
        b = static_cast<uint8_t>(rng());
    return out;
}

class ApCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/veltrix-apcheck-XXXXXX";
        folder_ = mkdtemp(templ);
        setenv("VELTRIX_PORTS", (folder_ / "ports").c_str(), 1);
        options_.portNumber = kPort;
        options_.portsFolder = folder_ / "ports";
        options_.emmcSize = 16ull << 20;
        options_.resetDelayMs = 20;
        options_.helloDelayMs = 5;
        options_.saharaDataIdleMs = 60;
        bench_.state.workDir = folder_;
    }
    void TearDown() override {
        bench_.link.handle.reset();
        board_.reset();
        unsetenv("VELTRIX_PORTS");
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    // The model folder with a programmer made by objcopy (DLOAD) or as raw bytes (Sahara).
    void UseModel(const std::string& model, bool sahara) {
        bench_.state.model = model;
        const fs::path dir = folder_ / "model" / model;
        fs::create_directories(dir);
        programmer_ = RandomBytes(5000, 7);
        const fs::path bin = folder_ / "programmer.bin";
        std::ofstream(bin, std::ios::binary)
            .write(reinterpret_cast<const char*>(programmer_.data()), programmer_.size());
        if (sahara) {
            fs::copy_file(bin, dir / "2nd_loader.hex", fs::copy_options::overwrite_existing);
            fs::copy_file(bin, dir / "ddr_debug.mbn", fs::copy_options::overwrite_existing);
            return;
        }
        const std::string cmd = "objcopy -I binary -O ihex --change-addresses 0x10000 '" +
                                bin.string() + "' '" + (dir / "2nd_loader.hex").string() + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    void StartBoard(int loaderFamily) {
        options_.loaderFamily = loaderFamily;
        board_ = std::make_unique<sim::SimulatedBoard>(options_);
        std::string error;
        ASSERT_TRUE(board_->Start(&error)) << error;
    }

    // The board takes the host's last packet on its own thread: wait for it to get there.
    bool InMode(sim::BoardMode mode) {
        return board_->WaitUntil([&] { return board_->mode() == mode; }, 5000);
    }

    fs::path folder_;
    sim::BoardOptions options_;
    std::unique_ptr<sim::SimulatedBoard> board_;
    std::vector<uint8_t> programmer_;
    RecordingView view_;
    DeviceSteps steps_;
    CueClock clock_;
    std::ostringstream console_;
    Workbench bench_{view_, steps_, clock_, console_};
};

TEST_F(ApCheckTest, DloadModelUploadsTheHexProgrammerAndPasses) {
    UseModel(kDloadModel, false);
    StartBoard(1);
    ASSERT_EQ(RunApCheck(bench_, kPort), 0);
    EXPECT_EQ(view_.Lines(),
              (std::vector<std::string>{
                  "======== AP CHECK START\n", "Waiting for the device to connect in flash prg\n",
                  "Connected to flash programmer\n", "AP CHECK = pass\n", "======== END\n", "\n"}));
    EXPECT_EQ(view_.Result(ResultBox::kAp), "PASS");
    EXPECT_EQ(board_->ReadMemory(0x10000, programmer_.size()), programmer_);
    EXPECT_TRUE(InMode(sim::BoardMode::kProgrammer));
    EXPECT_TRUE(bench_.state.session.sectorAddressing);
    EXPECT_EQ(clock_.inner.Sleeps().front(), kProgrammerStartWaitMs);
}

TEST_F(ApCheckTest, SaharaModelServesTheProgrammerAsRawBytes) {
    UseModel(kSaharaModel, true);
    StartBoard(0);
    ASSERT_EQ(RunApCheck(bench_, kPort), 0);
    ASSERT_TRUE(InMode(sim::BoardMode::kProgrammer));
    EXPECT_EQ(board_->SaharaImage(), programmer_);
    EXPECT_EQ(view_.Result(ResultBox::kAp), "PASS");
}

TEST_F(ApCheckTest, NoPortNumberAndMissingPortAreFailuresWithoutABox) {
    UseModel(kDloadModel, false);
    EXPECT_EQ(RunApCheck(bench_, 0), kErrorGenFailure);
    EXPECT_TRUE(view_.Lines().empty());
    EXPECT_EQ(RunApCheck(bench_, kPort), kErrorGenFailure);  // no board: no COM12 link
    EXPECT_EQ(view_.Lines(),
              (std::vector<std::string>{"Serial port open FAILED..\n",
                                        "COM12 (/dev/ttyUSB11): no such device (No such file or "
                                        "directory)\n"}));
    EXPECT_EQ(view_.Result(ResultBox::kAp), "");
}

// A port that another program holds is told apart from a missing one.
TEST_F(ApCheckTest, BusyPortSaysWhoHoldsIt) {
    UseModel(kDloadModel, false);
    StartBoard(1);
    SerialLink other;
    ASSERT_EQ(OpenPort(other, kPort), 0);
    EXPECT_EQ(RunApCheck(bench_, kPort), kErrorGenFailure);
    EXPECT_EQ(OpenPort(bench_.link, kPort), kErrorPortBusy);
    const fs::path device = options_.portsFolder / "COM12";
    EXPECT_EQ(view_.Lines(),
              (std::vector<std::string>{"Serial port open FAILED..\n",
                                        "COM12 (" + device.string() +
                                            "): held by another process (Resource temporarily "
                                            "unavailable)\n"}));
    EXPECT_EQ(RunDdrApCheck(bench_, kPort), kErrorGenFailure);
    EXPECT_EQ(view_.Lines().size(), 4u);
}

// A board that drops off the bus after the upload and comes back (it re-enumerates): the
// hang-up is logged with the port's words, the port reopened, and the handshake completes.
TEST_F(ApCheckTest, BoardThatDropsOffTheBusAfterTheUploadIsReconnected) {
    UseModel(kSaharaModel, true);
    options_.faults.push_back({.kind = sim::FaultKind::kVanish, .ms = 300});  // the first HELLO
    StartBoard(0);
    clock_.realSleepMs = 20;  // each 500 ms poll lets the board get on
    ASSERT_EQ(RunApCheck(bench_, kPort), 0);
    const auto lines = view_.Lines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[1], "Waiting for the device to connect in flash prg\n");
    EXPECT_TRUE(lines[2].starts_with("Serial port lost: COM12 (")) << lines[2];
    EXPECT_TRUE(lines[2].ends_with("): Input/output error\n") ||
                lines[2].ends_with("): the device hung up\n"))
        << lines[2];
    EXPECT_EQ(lines[3], "Serial port COM12 reopened\n");
    EXPECT_EQ(lines[4], "Connected to flash programmer\n");
    EXPECT_EQ(view_.Result(ResultBox::kAp), "PASS");
    EXPECT_TRUE(view_.Messages().empty());
    EXPECT_TRUE(InMode(sim::BoardMode::kProgrammer));
}

// A board that does not come back within the window: the second box, with the reason logged,
// after no more than the window on the run's clock.
TEST_F(ApCheckTest, BoardThatStaysAwayEndsWithTheSecondBox) {
    UseModel(kSaharaModel, true);
    options_.faults.push_back({.kind = sim::FaultKind::kVanish, .ms = 600000});
    StartBoard(0);
    EXPECT_EQ(RunApCheck(bench_, kPort), kErrorGenFailure);
    const auto lines = view_.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 2],
              "Serial port did not come back within 15 s: COM12 (/dev/ttyUSB11): no such device "
              "(No such file or directory)\n");
    EXPECT_EQ(lines.back(), "Failed to connect to the flash programmer\n");
    ASSERT_EQ(view_.Messages().size(), 1u);
    const auto sleeps = clock_.inner.Sleeps();
    // The window's polls, and the 500 ms the Sahara upload waits after DONE.
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), kReopenPollMs),
              kReconnectWindowMs / kReopenPollMs + 1);
}

// The operator's cancel ends the wait for a lost port at once.
TEST_F(ApCheckTest, CancelEndsTheWaitForALostPort) {
    UseModel(kSaharaModel, true);
    options_.faults.push_back({.kind = sim::FaultKind::kVanish, .ms = 600000});
    StartBoard(0);
    clock_.onSleep = [this](uint32_t ms) {
        if (ms == kReopenPollMs && view_.Lines().back().starts_with("Serial port lost: "))
            bench_.link.cancel = true;
    };
    EXPECT_EQ(RunApCheck(bench_, kPort), kErrorOperationAborted);
    EXPECT_TRUE(view_.Messages().empty());
    EXPECT_EQ(view_.Lines().back().rfind("Serial port lost: ", 0), 0u);
}

TEST_F(ApCheckTest, BoardOutOfDownloadModeShowsTheFirstBox) {
    UseModel(kDloadModel, false);
    StartBoard(1);
    bench_.link.timeoutMs = 200;
    board_->InjectFault({.kind = sim::FaultKind::kSilence, .count = 5});
    EXPECT_EQ(RunApCheck(bench_, kPort), kErrorGenFailure);
    ASSERT_EQ(view_.Messages().size(), 1u);
    EXPECT_NE(view_.Messages()[0].find("Device was not found in dload"), std::string::npos);
    EXPECT_EQ(view_.Lines().back(), "Device was not found in dload trying flash programmer\n");
    EXPECT_EQ(view_.Result(ResultBox::kAp), "");
}

TEST_F(ApCheckTest, RefusedPacketFailsTheUploadAndTheBox) {
    UseModel(kDloadModel, false);
    StartBoard(1);
    board_->InjectFault({.kind = sim::FaultKind::kRefuseWrite, .command = sim::kWriteCommands});
    EXPECT_EQ(RunApCheck(bench_, kPort), kErrorGenFailure);
    EXPECT_EQ(view_.Lines().back(), "Failed during loading flash programmer\n");
    EXPECT_EQ(view_.Result(ResultBox::kAp), "FAIL");
    EXPECT_EQ(board_->goAddress(), 0u);
}

// A programmer file that is a link to an endless device is refused at once, on either boot
// protocol: it is never read into memory nor served to the boot ROM.
TEST_F(ApCheckTest, EndlessProgrammerFileIsRefusedBeforeAnythingIsSent) {
    for (const bool sahara : {false, true}) {
        SCOPED_TRACE(sahara);
        UseModel(sahara ? kSaharaModel : kDloadModel, sahara);
        const fs::path file = folder_ / "model" / bench_.state.model / "2nd_loader.hex";
        fs::remove(file);
        fs::create_symlink("/dev/zero", file);
        StartBoard(sahara ? 0 : 1);
        view_.ClearLog();
        bench_.state.logLineCount = 0;
        EXPECT_EQ(RunApCheck(bench_, kPort), kErrorGenFailure);
        const auto lines = view_.Lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines.end()[-2], file.string() +
                                       " cannot be used (missing, damaged, too large or not a "
                                       "regular file); nothing was sent\n");
        EXPECT_EQ(lines.back(), "Failed during loading flash programmer\n");
        EXPECT_EQ(board_->goAddress(), 0u);
        EXPECT_TRUE(board_->SaharaImage().empty());
        ClosePort(bench_.link);
        board_.reset();
    }
}

TEST_F(ApCheckTest, SilentProgrammerShowsTheSecondBox) {
    UseModel(kDloadModel, false);
    StartBoard(1);
    bench_.link.timeoutMs = 100;
    // NOP and the upload are answered; the programmer's handshake is not.
    board_->InjectFault({.kind = sim::FaultKind::kSilence, .command = 0x01, .count = 10});
    EXPECT_EQ(RunApCheck(bench_, kPort), kErrorGenFailure);
    ASSERT_EQ(view_.Messages().size(), 1u);
    EXPECT_NE(view_.Messages()[0].find("No response from the device"), std::string::npos);
    EXPECT_EQ(view_.Lines().back(), "Failed to connect to the flash programmer\n");
    EXPECT_EQ(view_.Result(ResultBox::kAp), "");
}

TEST_F(ApCheckTest, DdrWaitPollsThePortOnOneLiveLineUntilTheBoardIsBack) {
    UseModel(kDloadModel, false);
    bench_.state.ddrWaiting = true;
    bench_.state.logLineCount = 3;
    for (int i = 0; i < 3; ++i)
        view_.InsertLogLine(i, "earlier\n");
    clock_.cuePoll = 3;
    clock_.cue = [this] { StartBoard(1); };
    ASSERT_EQ(RunApCheck(bench_, kPort), 0);
    // 0, 1, 1 minutes on the same line; then the reconnect lines, no start line, no pass block.
    EXPECT_EQ(view_.Lines(),
              (std::vector<std::string>{"earlier\n", "earlier\n", "earlier\n",
                                        "Elapsed time for DDR test : 1min\n",
                                        "Waiting for the device to connect in flash prg\n",
                                        "Connected to flash programmer\n"}));
    EXPECT_EQ(clock_.polls, 3);
    EXPECT_EQ(view_.Result(ResultBox::kAp), "");
}

TEST_F(ApCheckTest, UploadFailureDuringDdrWaitAsksForOneRetryThenFails) {
    UseModel(kDloadModel, false);
    StartBoard(1);
    bench_.state.ddrWaiting = true;
    board_->InjectFault(
        {.kind = sim::FaultKind::kRefuseWrite, .command = sim::kWriteCommands, .count = 2});
    EXPECT_EQ(RunApCheck(bench_, kPort), kErrorNotReady);
    EXPECT_TRUE(bench_.apRetried);
    EXPECT_TRUE(view_.Lines().empty());
    EXPECT_EQ(RunApCheck(bench_, kPort), kErrorGenFailure);
    EXPECT_EQ(view_.Lines().back(), "Failed during loading flash programmer\n");
    EXPECT_EQ(view_.Result(ResultBox::kAp), "FAIL");
}

TEST_F(ApCheckTest, DdrApCheckUsesSaharaOnAnyModelWithoutHandshake) {
    UseModel(kDloadModel, true);  // a DLOAD-family model: the DDR image still goes over Sahara
    options_.boot = sim::BootProtocol::kSahara;
    options_.saharaTarget = sim::SaharaTarget::kDdrDebug;
    StartBoard(1);
    ASSERT_EQ(RunDdrApCheck(bench_, kPort), 0);
    ASSERT_TRUE(InMode(sim::BoardMode::kDdrDebug));
    EXPECT_EQ(board_->SaharaImage(), programmer_);
    EXPECT_EQ(view_.Lines(),
              (std::vector<std::string>{"======== AP CHECK START\n",
                                        "Waiting for the device to connect in flash prg\n",
                                        "AP CHECK = pass\n", "======== END\n", "\n"}));
    EXPECT_FALSE(bench_.state.session.sectorAddressing);
}

}  // namespace
}  // namespace veltrix
