// The fault matrix: every fault the simulated board can commit, at the first exchange of a run
// and at a later one, against the AP check and each board test, with the shipped device steps on
// a real pseudo-terminal. Every cell must end in time with one ending line and the elapsed time
// last, a run record that says what the log says (ending, boxes, exit status), the port closed
// and free for the next opener, and a board that passes the next AP check.

#include "cli/exit_status.h"
#include "tests/diag/fault_matrix_fixture.h"

namespace veltrix::testing {
namespace {

using sim::FaultKind;

// What a cell must end with: P completed with no FAIL (exit 0); F completed, but a box says FAIL,
// the PMIC step failed or the DDR-level test gave no verdict (exit 1); A aborted (exit 2).
// Columns, one character per test, in the order of kMatrixTests: AP check, eMMC Read only,
// eMMC Read/Write, eMMC dump, restore, PMIC ON, two-phase SDRAM, DDR-level test.
struct KindRow {
    const char* name;
    sim::Fault fault;
    const char* first;  // the fault on the run's first framed exchange
    const char* later;  // the fault on the test's own later exchange (kMatrixTests)
};

sim::Fault MakeFault(FaultKind kind, uint32_t ms = 0) {
    sim::Fault f;
    f.kind = kind;
    f.ms = ms;
    return f;
}

// The first framed exchange is the boot ROM's NOP for the DLOAD model, and the wake packet of
// the DDR-debug image for the DDR-level test (its Sahara upload is not framed). A NOP that gets
// no clean ACK is a board that is not in download mode: the run aborts. The wake packet's reply
// is not judged, so a fault there leaves the level test to its start packet; only a fault whose
// effect outlives the wake exchange (the stalled reply's tail read as the start packet's answer,
// a port that is gone) leaves the test without a verdict: completed, exit 1.
// Later exchanges (kMatrixTests): the handshake retries SECURITY MODE, so the AP check passes
// through every fault; a failed flash command aborts its test; a failed PMIC ON is a failed PMIC
// step (completed, exit 1); the DDR image's start packet without '0' or '1' at index 3 of its
// reply body is a level test without a verdict (exit 1).
// Faults that do not touch what is judged let the run pass: a stall shorter than the time-out;
// one byte less of a reply whose tail nobody reads (a one-byte ACK keeps its byte, STREAM WRITE
// and READ CHECK answers are judged by their code, the DDR reply by its index 3); another address
// where no address is read. A READ answer that is short or names another address is refused.
const std::vector<KindRow> kKinds = {
    {"silence", MakeFault(FaultKind::kSilence), "AAAAAAAP", "PAAAAFAF"},
    {"refuse-write", MakeFault(FaultKind::kRefuseWrite), "AAAAAAAP", "PAAAAFAF"},
    {"corrupt-fcs", MakeFault(FaultKind::kCorruptFcs), "AAAAAAAP", "PAAAAFAF"},
    // The DDR image's reply with another first byte still carries its verdict at index 3.
    {"wrong-code", MakeFault(FaultKind::kWrongCode), "AAAAAAAP", "PAAAAFAP"},
    {"stall-short", MakeFault(FaultKind::kStall, 30), "PPPPPPPP", "PPPPPPPP"},
    {"stall-long", MakeFault(FaultKind::kStall, kStallLongMs), "AAAAAAAF", "PAAAAFAF"},
    // The handshake reopens a port that vanished for 100 ms; nothing else reconnects.
    {"vanish", MakeFault(FaultKind::kVanish, 100), "AAAAAAAF", "PAAAAFAF"},
    {"log-message", MakeFault(FaultKind::kLogMessage), "AAAAAAAP", "PAAAAFAF"},
    {"short-reply", MakeFault(FaultKind::kShortReply), "PPPPPPPP", "PPPAPPAP"},
    {"other-address", MakeFault(FaultKind::kOtherAddress), "PPPPPPPP", "PPPAPPAP"},
};

// One column of the matrix per test case, so the columns run side by side.
class FaultMatrixTest : public FaultMatrixFixture, public ::testing::WithParamInterface<size_t> {};

TEST_P(FaultMatrixTest, EveryFaultAtTheFirstAndALaterExchangeEndsTheRunCleanly) {
    const size_t column = GetParam();
    const MatrixTest& test = kMatrixTests[column];
    for (const KindRow& row : kKinds) {
        for (const bool later : {false, true}) {
            sim::Fault fault = row.fault;
            fault.command = later ? test.laterCommand : sim::kAnyCommand;
            fault.skip = later ? test.laterNth - 1 : 0;
            SCOPED_TRACE(std::string(row.name) + (later ? " at a later exchange" : " first") +
                         " / " + test.name);
            const CellOutcome got = RunCell(test, fault);
            ExpectCleanEnd(got);
            EXPECT_EQ(got.exitStatus, ExitFor((later ? row.later : row.first)[column]))
                << Describe(got);
            ExpectPortFreeAndBoardUsable(test, fault, got);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Columns, FaultMatrixTest, ::testing::Range<size_t>(0, kMatrixTests.size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(kMatrixTests[info.param].id);
                         });

}  // namespace
}  // namespace veltrix::testing
