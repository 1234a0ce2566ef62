#pragma once
// Cells of the fault matrix: one run of one test against a freshly started simulated board that
// commits one fault, with the shipped device steps, on a real pseudo-terminal. The run's own
// waits go through a fake clock that lets a little real time pass (so a port that vanishes for
// 100 ms can come back within the reconnect window); the port's time-outs are real but capped,
// so a silent board costs a fraction of a second instead of ten.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "diag/device_steps.h"
#include "diag/prepare_run.h"
#include "diag/run_record.h"
#include "diag/workbench.h"
#include "sim/simulated_board.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_view.h"

namespace veltrix::testing {

// Every port time-out of the link is cut to this in the matrix.
inline constexpr uint32_t kCappedTimeoutMs = 300;
// A stall that outlasts the capped time-out.
inline constexpr uint32_t kStallLongMs = kCappedTimeoutMs + 200;

enum class MatrixRun {
    kApCheck,
    kEmmcReadOnly,
    kEmmcReadWrite,
    kEmmcDump,
    kRestore,
    kPmicOn,
    kTwoPhaseSdram,
    kDdrLevel,
};

// One column of the matrix: the run, and the request (code, 1-based among its kind) that a
// fault "at a later exchange" watches: SECURITY MODE of the handshake; READ CHECK; the pattern's
// STREAM WRITE; the second sector's READ; the image's second STREAM WRITE; PMIC ON; the verdict
// READ in pass 2; the DDR image's level-0 start packet.
struct MatrixTest {
    MatrixRun run;
    const char* id;  // the test case's name
    const char* name;
    int laterCommand;
    int laterNth;
};

inline const std::array<MatrixTest, 8> kMatrixTests = {{
    {MatrixRun::kApCheck, "ApCheck", "AP check", 0x17, 1},
    {MatrixRun::kEmmcReadOnly, "EmmcReadOnly", "eMMC Read only", 0x25, 1},
    {MatrixRun::kEmmcReadWrite, "EmmcReadWrite", "eMMC Read/Write", 0x07, 1},
    {MatrixRun::kEmmcDump, "EmmcDump", "eMMC dump", 0x03, 2},
    {MatrixRun::kRestore, "Restore", "restore", 0x07, 2},
    {MatrixRun::kPmicOn, "PmicOn", "PMIC ON", 0x26, 1},
    {MatrixRun::kTwoPhaseSdram, "TwoPhaseSdram", "two-phase SDRAM", 0x03, 1},
    {MatrixRun::kDdrLevel, "DdrLevel", "DDR-level test", 0x31, 1},
}};

struct CellOutcome {
    std::vector<std::string> lines;
    RunRecord record;
    std::array<std::string, 3> shownBoxes;  // as the view shows them
    int exitStatus = -1;
    bool endedInTime = false;
    bool faultReached = false;  // the board took the request the fault watches
    bool portOpenAfter = true;
    bool running = true;
    bool ddrWaiting = true;
    double seconds = 0;
    std::string console;
};

class FaultMatrixFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts a board with `fault` armed and runs `test` to its end (cancelled after 10 s).
    CellOutcome RunCell(const MatrixTest& test, const sim::Fault& fault);
    // One ending line, the elapsed time last, and a record that agrees with the log.
    void ExpectCleanEnd(const CellOutcome& cell);
    // The port opens at once for a new opener, and the board (restarted if it is not in
    // download mode) passes an AP check run.
    void ExpectPortFreeAndBoardUsable(const MatrixTest& test, const sim::Fault& fault,
                                      const CellOutcome& cell);

    static int ExitFor(char expected);
    static std::string Describe(const CellOutcome& cell);

private:
    sim::BoardOptions OptionsFor(const MatrixTest& test) const;
    RunSelections SelectionsFor(const MatrixTest& test) const;
    void StartBoard(const sim::BoardOptions& options);
    CellOutcome RunToEnd(const RunSelections& selections);

    std::filesystem::path folder_;
    std::filesystem::path target_;
    std::unique_ptr<sim::SimulatedBoard> board_;
    sim::BoardOptions boardOptions_;
};

}  // namespace veltrix::testing
