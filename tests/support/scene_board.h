#pragma once
// The simulated board of a bench scene, on a real pseudo-terminal linked in the scene's ports
// folder (POSIX only): small and fast unless a test says otherwise.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/simulated_board.h"
#include "tests/support/bench_scene.h"
#include "tests/support/engine_rig.h"

namespace veltrix::testing {

// A board for `model`: its loader and PMIC families, its DDR-debug image and SDRAM test image
// from the scene's model folder, partition.txt of the scene's target directory, a 64 MiB eMMC,
// and delays of a few milliseconds.
sim::BoardOptions BoardFor(const BenchScene& scene, const std::string& model,
                           int port = kBoardPort);

// Starts the board; null (with a test failure) when it cannot start.
std::unique_ptr<sim::SimulatedBoard> StartBoard(const sim::BoardOptions& options);

// Waits until the board is in download mode with its port present (after a RESET it comes back
// by itself; a board whose programmer still runs is restarted with the same eMMC file).
void ReadyBoard(std::unique_ptr<sim::SimulatedBoard>& board, const sim::BoardOptions& options);

// The board's flash, `sectors` sectors from `sector`.
Bytes ReadFlash(const sim::SimulatedBoard& board, uint64_t sector, size_t sectors);
// The board's requests with this command byte, in order.
std::vector<Bytes> Requests(const sim::SimulatedBoard& board, uint8_t command);
// A fault on the request with this command byte after `skip` of them answered normally.
inline sim::Fault FaultOn(sim::FaultKind kind, int command, int skip = 0) {
    sim::Fault fault;
    fault.kind = kind;
    fault.command = command;
    fault.skip = skip;
    return fault;
}
// The little-endian 32-bit field at `at` of a request (an address, a length).
uint32_t Le32(const Bytes& bytes, size_t at);

// Whole runs on the scene's board through a run engine. `options` is the board the next Run
// starts when there is none (set it once the scene's files are written); Run readies the board
// (ReadyBoard) and runs START with `selections` to its end.
class SceneRunTest : public ::testing::Test {
protected:
    void Run(const RunSelections& selections);

    BenchScene scene;
    sim::BoardOptions options;
    std::unique_ptr<sim::SimulatedBoard> board;
    EngineRig rig{scene};
};

}  // namespace veltrix::testing
