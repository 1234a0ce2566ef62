// The AP check called on its own against the simulated board on a real pseudo-terminal: the DLOAD
// and Sahara uploads, the handshake and the reconnect, the wait after a DDR test, the DDR-debug
// image, and the failures an operator meets.
#include "diag/ap_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/support/scene_board.h"

namespace veltrix::testing {
namespace {

namespace fs = std::filesystem;
// The wait for a board after the DDR test's reset, as a run has it by default.
constexpr uint32_t kWaitMs = kDefaultBoardWaitSeconds * 1000;

class ApCheckTest : public ::testing::Test {
protected:
    ApCheckTest() {
        scene.WriteModel(kDloadModel);
        scene.WriteModel(kSaharaModel);
    }
    // A rig and a started board for `model`.
    void Use(const std::string& model, const std::vector<sim::Fault>& faults = {}) {
        rig = std::make_unique<TestRig>(scene, model);
        options = BoardFor(scene, model);
        options.faults = faults;
        board.reset();  // its port is free for the next one only once it is gone
        board = StartBoard(options);
    }
    int Check() { return RunApCheck(rig->ctx, rig->session, rig->files); }
    // What the board took: the DLOAD upload in its memory, the Sahara image whole.
    Bytes Uploaded(const std::string& model) const {
        return model == kDloadModel ? board->ReadMemory(0x10000, scene.programmer.size())
                                    : board->SaharaImage();
    }

    BenchScene scene;
    sim::BoardOptions options;
    std::unique_ptr<sim::SimulatedBoard> board;
    std::unique_ptr<TestRig> rig;
};

TEST_F(ApCheckTest, EitherBootProtocolUploadsTheProgrammerAndConnects) {
    for (const char* model : {kDloadModel, kSaharaModel}) {
        SCOPED_TRACE(model);
        Use(model);
        ASSERT_EQ(Check(), 0) << rig->console.str();
        EXPECT_EQ(rig->view.Lines(), kApCheckPass);
        EXPECT_EQ(rig->view.Result(ResultBox::kAp), "PASS");
        EXPECT_EQ(Uploaded(model), scene.programmer);
        EXPECT_TRUE(
            board->WaitUntil([&] { return board->mode() == sim::BoardMode::kProgrammer; }, 5000));
        EXPECT_TRUE(rig->session.sectorAddressing);
        EXPECT_EQ(rig->clock.Count(kProgrammerStartWaitMs), 1);
    }
}

// No port, a missing one and one another program holds: a line that says which and why, no box.
TEST_F(ApCheckTest, PortFailuresAreLoggedInTheSystemsWordsWithoutABox) {
    rig = std::make_unique<TestRig>(scene, kDloadModel);
    rig->link.Bind(0);
    EXPECT_EQ(RunApCheck(rig->ctx, rig->session, rig->files), kErrorGenFailure);
    EXPECT_TRUE(rig->view.Lines().empty());
    rig->link.Bind(kBoardPort);
    EXPECT_EQ(Check(), kErrorGenFailure);
    // What the operator does about it comes last, and the record keeps the reason.
    const Lines missing = rig->view.Lines();
    ASSERT_EQ(missing.size(), 3u);
    EXPECT_EQ(Lines(missing.begin(), missing.begin() + 2),
              (Lines{"Serial port open FAILED..\n",
                     "COM14 (/dev/ttyUSB13): no such device (No such file or directory)\n"}));
    EXPECT_TRUE(missing[2].starts_with("check the cable, then put the board in download mode"));
    EXPECT_EQ(rig->ctx.record().abortReason, "no such port");

    Use(kDloadModel);
    SerialLink other;
    ASSERT_EQ(other.Open(kBoardPort), 0);
    EXPECT_EQ(Check(), kErrorGenFailure);
    EXPECT_EQ(rig->link.Open(kBoardPort), kErrorPortBusy);
    EXPECT_EQ(RunDdrApCheck(rig->ctx, rig->session, rig->files, 0), kErrorGenFailure);
    const std::string held = "COM14 (" + (scene.portsFolder() / "COM14").string() +
                             "): held by another process (Resource temporarily unavailable)\n";
    const Lines busy = rig->view.Lines();
    ASSERT_EQ(busy.size(), 6u);
    EXPECT_EQ((Lines{busy[0], busy[1], busy[3], busy[4]}),
              (Lines{"Serial port open FAILED..\n", held, "Serial port open FAILED..\n", held}));
    EXPECT_TRUE(busy[2].starts_with("close the program that holds the port")) << busy[2];
    EXPECT_EQ(rig->view.Result(ResultBox::kAp), "");
}

// A board that drops off the bus after the upload and comes back (it re-enumerates): the hang-up
// is logged in the port's words, the port reopened, and the handshake completes; a board that
// keeps dropping off is given up after kMaxReconnects reconnects.
TEST_F(ApCheckTest, BoardThatDropsOffTheBusAfterTheUploadIsReconnectedABoundedNumberOfTimes) {
    for (const int drops : {1, kMaxReconnects + 1}) {
        SCOPED_TRACE(drops);
        Use(kSaharaModel, {{.kind = sim::FaultKind::kVanish, .count = drops, .ms = 300}});
        rig->clock.onSleep = [](uint32_t ms) {  // each poll lets the board get on
            if (ms == kReopenPollMs) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        };
        const Lines lines = [&] {
            EXPECT_EQ(Check(), drops == 1 ? 0 : kErrorGenFailure);
            return rig->view.Lines();
        }();
        ASSERT_GE(lines.size(), 5u);
        EXPECT_EQ(lines[1], "Waiting for the device to connect in flash prg\n");
        EXPECT_TRUE(lines[2].starts_with("Serial port lost: COM14 (")) << lines[2];
        EXPECT_TRUE(lines[2].ends_with("): Input/output error\n") ||
                    lines[2].ends_with("): the device hung up\n"))
            << lines[2];
        EXPECT_EQ(lines[3], "Serial port COM14 reopened\n");
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.starts_with("Serial port lost"); }),
            std::min(drops, kMaxReconnects));
        if (drops == 1) {
            EXPECT_EQ(lines[4], "Connected to flash programmer\n");
            EXPECT_EQ(rig->view.Result(ResultBox::kAp), "PASS");
            EXPECT_TRUE(rig->view.Messages().empty());
        }
    }
}

// A board that does not come back: the second box, with the reason, after no more than the
// window on the run's clock; or, when the operator cancels the wait, nothing more.
TEST_F(ApCheckTest, BoardThatStaysAwayEndsWithTheSecondBoxOrTheOperatorsCancel) {
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel);
        Use(kSaharaModel, {{.kind = sim::FaultKind::kVanish, .ms = 600000}});
        if (cancel) {
            // At the first poll (the first 500 ms wait is the Sahara upload's, after DONE).
            rig->clock.CueAt(kReopenPollMs, 2, [this] { rig->ctx.Cancel(); });
        }
        EXPECT_EQ(Check(), cancel ? kErrorOperationAborted : kErrorGenFailure);
        const Lines lines = rig->view.Lines();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_TRUE(lines[2].starts_with("Serial port lost: ")) << lines[2];
        if (cancel) {
            EXPECT_EQ(lines.size(), 3u);
            EXPECT_TRUE(rig->view.Messages().empty());
            continue;
        }
        EXPECT_EQ(lines.end()[-2],
                  "Serial port did not come back within 15 s: COM14 (/dev/ttyUSB13): no such "
                  "device (No such file or directory)\n");
        EXPECT_EQ(lines.back(), "Failed to connect to the flash programmer\n");
        EXPECT_EQ(rig->view.Messages().size(), 1u);
        // The window's polls, and the 500 ms the Sahara upload waits after DONE.
        EXPECT_EQ(rig->clock.Count(kReopenPollMs), kReconnectWindowMs / kReopenPollMs + 1);
    }
}

// STOP while the boot ROM is asked (NOP) or while it takes the programmer: the run is cancelled,
// not failed (no FAIL box, no "not found" box, no upload failure line).
TEST_F(ApCheckTest, StopDuringTheProbeOrTheUploadIsNoFailureOfTheBoard) {
    using enum sim::FaultKind;
    for (const int command : {0x06, sim::kWriteCommands}) {
        SCOPED_TRACE(command);
        Use(kDloadModel, {{.kind = kStall, .command = command, .ms = 3000}});
        std::thread stop([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            rig->ctx.Cancel();
        });
        EXPECT_EQ(Check(), kErrorOperationAborted);
        stop.join();
        EXPECT_EQ(rig->view.Result(ResultBox::kAp), "");
        EXPECT_TRUE(rig->view.Messages().empty());
        for (const std::string& line : rig->view.Lines()) {
            EXPECT_EQ(line.find("Failed"), std::string::npos) << line;
        }
    }
}

// The boot ROM does not answer, refuses the upload, or the programmer stays silent: the line and
// the box the operator sees for each.
TEST_F(ApCheckTest, FailuresOfTheBootRomAndTheProgrammerShowTheirLineAndBox) {
    using enum sim::FaultKind;
    const struct {
        sim::Fault fault;
        const char* line;
        const char* message;
        const char* box;
    } cases[] = {
        {{.kind = kSilence, .count = 5},
         "Device was not found in dload trying flash programmer\n",
         "Device was not found in dload",
         ""},
        {FaultOn(kRefuseWrite, sim::kWriteCommands), "Failed during loading flash programmer\n",
         nullptr, "FAIL"},
        // NOP and the upload are answered; the programmer's handshake is not.
        {{.kind = kSilence, .command = 0x01, .count = 10},
         "Failed to connect to the flash programmer\n",
         "No response from the device",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Use(kDloadModel, {c.fault});
        rig->link.SetTimeout(100);
        EXPECT_EQ(Check(), kErrorGenFailure);
        // The boot ROM's silence is followed by what the board does instead and what to do.
        const Lines lines = rig->view.Lines();
        EXPECT_EQ(c.fault.kind == kSilence && c.fault.command == sim::kAnyCommand ? lines.end()[-2]
                                                                                  : lines.back(),
                  c.line);
        EXPECT_EQ(rig->view.Result(ResultBox::kAp), c.box);
        ASSERT_EQ(rig->view.Messages().size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_NE(rig->view.Messages()[0].find(c.message), std::string::npos);
        }
        if (c.box[0] != '\0') {
            EXPECT_EQ(board->goAddress(), 0u);
        }
    }
}

// A programmer file that is a link to an endless device is refused at once, on either boot
// protocol: it is never read into memory nor served to the boot ROM.
// A programmer file that cannot be a whole programmer is refused before anything is sent, with a
// line naming the file (and for Intel HEX the line at fault): an endless device, an empty file,
// a HEX file with only its end record, without one, or with a record after it.
TEST_F(ApCheckTest, ProgrammerFilesThatCannotBeUsedAreRefusedBeforeAnythingIsSent) {
    const std::string data = HexDataLines(0, Noise(32));  // two lines
    const struct {
        const char* model;
        std::string text;  // the file's content; empty with `device`: a link to /dev/zero
        bool device;
        std::string fault;  // after the file's name
    } cases[] = {
        {kDloadModel, "", true,
         " is refused: a device, not a regular file (at most 67108864 bytes)"},
        {kSaharaModel, "", true, " is refused: a device, not a regular file"},
        {kDloadModel, "", false, ", line 1: no data record before the end-of-file record"},
        {kSaharaModel, "", false, " is empty"},
        {kDloadModel, "\n" + kHexEnd, false,
         ", line 2: no data record before the end-of-file record"},
        {kDloadModel, data, false, ", line 3: no end-of-file record (the file is cut short)"},
        {kDloadModel, data + kHexEnd + data, false,
         ", line 4: a record after the end-of-file record"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.model) + c.fault);
        const fs::path file = scene.ModelFolder(c.model) / "2nd_loader.hex";
        fs::remove(file);
        if (c.device) {
            fs::create_symlink("/dev/zero", file);
        } else {
            WriteText(file, c.text);
        }
        Use(c.model);
        EXPECT_EQ(Check(), kErrorGenFailure);
        const std::string kind = std::string(c.model) == kDloadModel ? "Programmer" : "Image";
        EXPECT_EQ(rig->view.Lines(),
                  (Lines{"======== AP CHECK START\n",
                         kind + " file " + file.string() + c.fault + "; nothing was sent\n",
                         "Failed during loading flash programmer\n"}));
        EXPECT_EQ(rig->view.Result(ResultBox::kAp), "FAIL");
        EXPECT_EQ(rig->ctx.record().advice, "put a good copy of " + file.string() + " in place");
        EXPECT_TRUE(Requests(*board, 0x0F).empty());
        EXPECT_TRUE(Requests(*board, 0x05).empty());
        EXPECT_TRUE(board->SaharaImage().empty());
    }
}

// The DDR-debug image is read the same way: an empty one is refused before anything is sent.
TEST_F(ApCheckTest, EmptyDdrImageIsRefusedBeforeAnythingIsSent) {
    scene.ddrImage.clear();
    scene.WriteModel(kDdrModel);
    Use(kDdrModel);
    EXPECT_EQ(RunDdrApCheck(rig->ctx, rig->session, rig->files, 0), kErrorGenFailure);
    const fs::path file = scene.ModelFolder(kDdrModel) / "ddr_debug.mbn";
    EXPECT_EQ(rig->view.Lines(),
              (Lines{"======== AP CHECK START\n",
                     "Image file " + file.string() + " is empty; nothing was sent\n",
                     "Failed during loading flash programmer\n"}));
    EXPECT_TRUE(board->SaharaImage().empty());
}

TEST_F(ApCheckTest, AfterADdrTestThePortIsPolledOnOneLiveLineUntilTheBoardIsBack) {
    rig = std::make_unique<TestRig>(scene, kDloadModel);
    for (int i = 0; i < 3; ++i) {
        rig->ctx.Log("earlier\n");
    }
    rig->clock.CueAt(kDdrPollWaitMs, 3,
                     [this] { board = StartBoard(BoardFor(scene, kDloadModel)); });
    ASSERT_EQ(RunApCheckAfterDdrWait(rig->ctx, rig->session, rig->files, true, kWaitMs), 0);
    // 0, 1, 1 minutes on the same line; then the reconnect lines, no start line, no pass block.
    EXPECT_EQ(rig->view.Lines(),
              (Lines{"earlier\n", "earlier\n", "earlier\n", "Elapsed time for DDR test : 1min\n",
                     "Waiting for the device to connect in flash prg\n",
                     "Connected to flash programmer\n"}));
    EXPECT_EQ(rig->clock.Count(kDdrPollWaitMs), 3);
    EXPECT_EQ(rig->view.Result(ResultBox::kAp), "");
}

TEST_F(ApCheckTest, UploadFailureAfterADdrTestAsksForOneRetryThenFails) {
    Use(kDloadModel,
        {{.kind = sim::FaultKind::kRefuseWrite, .command = sim::kWriteCommands, .count = 2}});
    EXPECT_EQ(RunApCheckAfterDdrWait(rig->ctx, rig->session, rig->files, true, kWaitMs),
              kErrorNotReady);
    EXPECT_TRUE(rig->view.Lines().empty());
    EXPECT_EQ(RunApCheckAfterDdrWait(rig->ctx, rig->session, rig->files, false, kWaitMs),
              kErrorGenFailure);
    EXPECT_EQ(rig->view.Lines(), Lines{"Failed during loading flash programmer\n"});
    EXPECT_EQ(rig->view.Result(ResultBox::kAp), "FAIL");
}

TEST_F(ApCheckTest, DdrImageGoesOverSaharaOnAnyModelWithoutAHandshake) {
    rig = std::make_unique<TestRig>(scene, kDloadModel);  // a DLOAD model
    options = BoardFor(scene, kDloadModel);
    options.boot = sim::BootProtocol::kSahara;
    options.saharaTarget = sim::SaharaTarget::kDdrDebug;
    board = StartBoard(options);
    ASSERT_EQ(RunDdrApCheck(rig->ctx, rig->session, rig->files, 0), 0);
    EXPECT_TRUE(board->WaitUntil([&] { return board->mode() == sim::BoardMode::kDdrDebug; }, 5000));
    EXPECT_EQ(board->SaharaImage(), scene.ddrImage);
    EXPECT_EQ(rig->view.Lines(), (Lines{"======== AP CHECK START\n",
                                        "Waiting for the device to connect in flash prg\n",
                                        "AP CHECK = pass\n", "======== END\n", "\n"}));
    EXPECT_FALSE(rig->session.sectorAddressing);
}

}  // namespace
}  // namespace veltrix::testing
