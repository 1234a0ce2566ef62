// The fault matrix: every fault the simulated board can commit, at the first exchange of a run
// and at a later one, against the AP check and each board test, in whole runs through the engine
// with the shipped tests. Every cell must end in time with one ending line and the elapsed time
// last, a run record that says what the log says (ending, boxes, exit status), the port closed
// and free for the next opener, and a board that passes the next AP check.
//
// The run's waits go through a fake clock that lets a little real time pass (so a port that
// vanishes for 100 ms can come back within the reconnect window); the port's time-outs are real
// but capped, so a silent board costs a fraction of a second instead of ten.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "diag/run_endings.h"
#include "diag/run_report.h"
#include "tests/support/scene_board.h"

namespace veltrix::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sim::FaultKind;

// Every port time-out of the link is cut to this in the matrix.
constexpr uint32_t kCappedTimeoutMs = 300;
// A stall that outlasts the capped time-out.
constexpr uint32_t kStallLongMs = kCappedTimeoutMs + 200;

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

// The shipped tests, on a link whose ports cap their time-outs.
std::unique_ptr<BoardTests> CappedTests(RunContext& ctx, ProgrammerSession& session,
                                        const RunFiles& files) {
    session.link->SetPortFactory(
        [] { return std::make_unique<CappedPort>(MakeSystemSerialPort()); });
    return MakeDeviceTests(ctx, session, files);
}

// One column: the run, and the request (code, 1-based among its kind) that a fault "at a later
// exchange" watches: SECURITY MODE of the handshake; READ CHECK; the pattern's STREAM WRITE; the
// second sector's READ; the image's second STREAM WRITE; PMIC ON; the verdict READ in pass 2; the
// DDR image's level-0 start packet.
enum Ticks : unsigned {
    kEmmc = 1,
    kReadWrite = 2,
    kDump = 4,
    kRestore = 8,
    kPmic = 16,
    kSdram = 32,
    kWindow = 64  // the dump keeps READs in flight; without it, one READ per exchange
};

struct Column {
    const char* id;
    const char* model;
    unsigned ticks;
    int laterCommand;
    int laterNth;
};

const Column kColumns[] = {
    {"ApCheck", kDloadModel, 0, 0x17, 1},
    {"EmmcReadOnly", kDloadModel, kEmmc, 0x25, 1},
    {"EmmcReadWrite", kDloadModel, kEmmc | kReadWrite, 0x07, 1},
    {"EmmcDump", kDloadModel, kEmmc | kDump, 0x03, 2},
    {"EmmcDumpWindow", kDloadModel, kEmmc | kDump | kWindow, 0x03, 5},
    {"Restore", kDloadModel, kRestore, 0x07, 2},
    {"PmicOn", kDloadModel, kPmic, 0x26, 1},
    {"TwoPhaseSdram", kDloadModel, kSdram, 0x03, 1},
    {"DdrLevel", kDdrModel, kSdram, 0x31, 1},
};

// What a cell must end with: P completed with no FAIL (exit 0); F completed, but a box says FAIL,
// the PMIC step failed or the DDR-level test gave no verdict (exit 1); A aborted (exit 2). One
// character per column, in the order of kColumns.
//
// The first framed exchange is the boot ROM's NOP for the DLOAD model, and the wake packet of the
// DDR-debug image for the DDR-level test (its Sahara upload is not framed). A NOP that gets no
// clean ACK is a board that is not in download mode: the run aborts. The wake packet's reply is
// not judged, so a fault there leaves the level test to its start packet; only a fault whose
// effect outlives the wake exchange (the stalled reply's tail read as the start packet's answer,
// a port that is gone) leaves the test without a verdict: completed, exit 1.
// Later exchanges: the handshake retries SECURITY MODE, so the AP check passes through every
// fault; a failed flash command aborts its test; a failed PMIC ON is a failed PMIC step
// (completed, exit 1); the DDR image's start packet without '0' or '1' at index 3 of its reply
// body is a level test without a verdict (exit 1).
// Faults that do not touch what is judged let the run pass: a stall shorter than the time-out;
// one byte less of a reply whose tail nobody reads (a one-byte ACK keeps its byte, STREAM WRITE
// and READ CHECK answers are judged by their code, the DDR reply by its index 3); another address
// where no address is read. A READ answer that is short or names another address is refused.
struct KindRow {
    const char* name;
    FaultKind kind;
    uint32_t ms;
    const char* first;
    const char* later;
};

const KindRow kKinds[] = {
    {"silence", FaultKind::kSilence, 0, "AAAAAAAAP", "PAAAPAFAF"},
    {"refuse-write", FaultKind::kRefuseWrite, 0, "AAAAAAAAP", "PAAAPAFAF"},
    {"corrupt-fcs", FaultKind::kCorruptFcs, 0, "AAAAAAAAP", "PAAAPAFAF"},
    // The DDR image's reply with another first byte still carries its verdict at index 3.
    {"wrong-code", FaultKind::kWrongCode, 0, "AAAAAAAAP", "PAAAPAFAP"},
    {"stall-short", FaultKind::kStall, 30, "PPPPPPPPP", "PPPPPPPPP"},
    {"stall-long", FaultKind::kStall, kStallLongMs, "AAAAAAAAF", "PAAAPAFAF"},
    // The handshake reopens a port that vanished for 100 ms; nothing else reconnects.
    {"vanish", FaultKind::kVanish, 100, "AAAAAAAAF", "PAAAAAFAF"},
    {"log-message", FaultKind::kLogMessage, 0, "AAAAAAAAP", "PAAAPAFAF"},
    {"short-reply", FaultKind::kShortReply, 0, "PPPPPPPPP", "PPPAPPPAP"},
    {"other-address", FaultKind::kOtherAddress, 0, "PPPPPPPPP", "PPPAPPPAP"},
};

int ExitFor(char expected) {
    return expected == 'P' ? kExitPassed : expected == 'F' ? kExitTestFailed : kExitAborted;
}

bool HasLine(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The record says what the log says: one ending line, the elapsed time last, each box as its
// section's verdict line, the PMIC failure and the boot images left on the board.
void ExpectRecordAsLogged(const RunRecord& record, const Lines& lines) {
    ASSERT_GE(lines.size(), 3u);
    EXPECT_TRUE(lines.back().starts_with("Elapsed Time : "));
    const bool completed = HasLine(lines, "Test Completed !!\n");
    EXPECT_NE(completed, HasLine(lines, "TEST aborted!!\n"));
    EXPECT_EQ(lines.end()[-2], completed ? "Test Completed !!\n" : "TEST aborted!!\n");
    EXPECT_EQ(record.ending, completed ? RunEnding::kCompleted : RunEnding::kAborted);
    EXPECT_FALSE(record.cancelled);
    EXPECT_EQ(record.Box(ResultBox::kAp) == kResultPass, HasLine(lines, "AP CHECK = pass\n"));
    EXPECT_EQ(record.Box(ResultBox::kEmmc) == kResultPass, HasLine(lines, "EMMC TEST = pass\n"));
    std::string verdict;  // the last "DDR TEST = " line's verdict, lower case
    for (const std::string& line : lines) {
        if (line.starts_with("DDR TEST = ")) {
            verdict = line.substr(11, 4);
            std::transform(verdict.begin(), verdict.end(), verdict.begin(), ::tolower);
        }
    }
    EXPECT_EQ(record.Box(ResultBox::kSdram), verdict.empty()     ? kResultNotTested
                                             : verdict == "pass" ? kResultPass
                                                                 : kResultFail);
    const bool pmicFailLine = std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.starts_with("FAIL to get PMIC status.") || l.starts_with("FAIL to set PMIC on.");
    });
    EXPECT_EQ(record.pmicFailed, pmicFailLine && completed);
    const bool notRestoredLine = std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.starts_with(kBootImagesNotRestoredText);
    });
    EXPECT_EQ(record.bootImagesNotRestored, notRestoredLine);
    // An aborted run names its cause in words, never only "see the run log".
    EXPECT_TRUE(completed || !record.abortReason.empty() || record.Box(ResultBox::kEmmc) == "FAIL")
        << VerdictOf(record).text;
}

// One column per test case, so that the columns run side by side.
class FaultMatrixTest : public ::testing::TestWithParam<size_t> {
protected:
    FaultMatrixTest() {
        for (const char* model : {kDloadModel, kDdrModel}) {
            scene.WriteModel(model, {"sbl1"});
        }
        scene.WritePartitions({{"PrimaryGPT", 0, 34}, {"sbl1", 64, 8}, {"sbl2", 128, 8}});
    }
    // The column's run, or with no ticks the AP check alone.
    RunSelections Selections(const Column& column, unsigned ticks) const {
        RunSelections s = SdramRun(scene, column.model, (ticks & kEmmc) != 0);
        s.option = ticks & kReadWrite ? "Read/Write" : "Read only";
        s.partitionLabel = "sbl1";
        s.dump = (ticks & kDump) != 0;
        s.restoreBootImage = (ticks & kRestore) != 0;
        s.pmicOn = (ticks & kPmic) != 0;
        s.sdramTest = (ticks & kSdram) != 0;
        s.readWindow = (ticks & kWindow) != 0 ? kDefaultReadWindow : 1;
        if (s.pmicOn) {
            s.targetDir.clear();  // PMIC ON needs none
        }
        return s;
    }
    // Runs the column's test against a fresh board (and flash) with `fault` armed, to its end
    // (cancelled after 10 s), and checks the cell.
    void RunCell(const Column& column, const sim::Fault& fault, char expected) {
        options = BoardFor(scene, column.model);
        options.emmcPath.clear();
        board.reset();
        board = StartBoard(options);
        ASSERT_NE(board, nullptr);
        board->InjectFault(fault);
        const Bytes flash = Noise(8 * 512, 17);  // sbl1, what a dump must hold whole or not at all
        ASSERT_TRUE(board->WriteEmmc(64 * 512, flash));
        const fs::path dump = scene.ModelFolder(column.model) / "dump" / "sbl1.dump";
        fs::remove(dump);
        EngineRig rig(scene, CappedTests);
        rig.clock.onSleep = [](uint32_t) { std::this_thread::sleep_for(5ms); };
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(rig.Start(Selections(column, column.ticks), kBoardPort), 0);
        const bool endedInTime = rig.WaitForEnd(10s);
        if (!endedInTime) {
            rig.engine.Cancel();  // a run past its bound is stopped, so the matrix goes on
            ASSERT_TRUE(rig.WaitForEnd());
        }
        SCOPED_TRACE(::testing::PrintToString(rig.view.Lines()) + "\n" + rig.console.str());
        EXPECT_TRUE(endedInTime);
        EXPECT_FALSE(rig.engine.InProgress());
        // A cell whose fault never struck would test nothing: its request must have come.
        EXPECT_GT(fault.command == sim::kAnyCommand
                      ? board->RequestJournal().size()
                      : Requests(*board, static_cast<uint8_t>(fault.command)).size(),
                  static_cast<size_t>(fault.skip));
        ExpectRecordAsLogged(rig.record(), rig.view.Lines());
        for (ResultBox box : {ResultBox::kAp, ResultBox::kEmmc, ResultBox::kSdram}) {
            EXPECT_EQ(rig.view.Result(box), rig.record().Box(box));
        }
        EXPECT_EQ(ExitStatusOf(rig.record()), ExitFor(expected));
        if ((column.ticks & kDump) != 0) {
            EXPECT_EQ(fs::exists(dump), rig.record().Passed());
            if (rig.record().Passed()) {
                EXPECT_EQ(ReadBytes(dump), flash);
            }
        }
        // A stalled reply's second half still comes once its pause is over; a run that opens the
        // port before then reads it as the answer to its first request. Wait it out.
        if (fault.kind == FaultKind::kStall) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(fault.ms + 50));
        }
    }
    // The port opens at once for a new opener, and the board (restarted if it is not in download
    // mode) passes an AP check run.
    void ExpectPortFreeAndBoardUsable(const Column& column) {
        // Back from a RESET (the link goes before the board leaves), or still there.
        ASSERT_TRUE(board->WaitUntil(
            [&] {
                const fs::path link = board->linkPath();
                return board->mode() != sim::BoardMode::kAway && !link.empty() && fs::exists(link);
            },
            3000));
        SerialLink fresh;
        EXPECT_EQ(fresh.Open(kBoardPort), 0) << fresh.lastError();
        fresh.Close();
        board->ClearFaults();
        ReadyBoard(board, options);
        EngineRig rig(scene, CappedTests);
        ASSERT_EQ(rig.Run(Selections(column, 0), kBoardPort), 0);
        EXPECT_EQ(rig.record().ending, RunEnding::kCompleted) << rig.console.str();
        EXPECT_EQ(rig.record().Box(ResultBox::kAp), kResultPass);
    }

    BenchScene scene;
    sim::BoardOptions options;
    std::unique_ptr<sim::SimulatedBoard> board;
};

TEST_P(FaultMatrixTest, EveryFaultAtTheFirstAndALaterExchangeEndsTheRunCleanly) {
    const Column& column = kColumns[GetParam()];
    for (const KindRow& row : kKinds) {
        for (const bool later : {false, true}) {
            sim::Fault fault{.kind = row.kind, .ms = row.ms};
            fault.command = later ? column.laterCommand : sim::kAnyCommand;
            fault.skip = later ? column.laterNth - 1 : 0;
            SCOPED_TRACE(std::string(row.name) + (later ? " at a later exchange" : " first"));
            RunCell(column, fault, (later ? row.later : row.first)[GetParam()]);
            ExpectPortFreeAndBoardUsable(column);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Columns, FaultMatrixTest, ::testing::Range<size_t>(0, std::size(kColumns)),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(kColumns[info.param].id);
                         });

}  // namespace
}  // namespace veltrix::testing
