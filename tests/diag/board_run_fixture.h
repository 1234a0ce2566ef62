#pragma once
// Whole runs with the shipped device steps against the simulated board on a real
// pseudo-terminal: a model folder with a DLOAD programmer, a target directory with partition.txt
// and image files, the model's rawprogram0.xml, and a fake clock for the run's waits.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "diag/device_steps.h"
#include "diag/prepare_run.h"
#include "diag/workbench.h"
#include "sim/simulated_board.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_view.h"

namespace veltrix::testing {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

inline constexpr const char* kBoardModel = "Tamsin (APQ8064)";  // DLOAD, loader family 1

struct PartitionSpec {
    PartitionSpec(std::string l, uint32_t s, uint32_t c, std::string f = "")
        : label(std::move(l)), start(s), count(c), fileName(std::move(f)) {}
    std::string label;
    uint32_t start;
    uint32_t count;
    std::string fileName;  // empty: label + ".mbn"
};

class BoardRunFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // partition.txt of the target directory.
    void UsePartitions(const std::vector<PartitionSpec>& partitions);
    // The model's rawprogram0.xml with these labels in this order.
    void UseProgramList(const std::vector<std::string>& labels);
    void StartBoard();
    // The board in download mode for the next run: after a completed run it comes back by
    // itself (RESET); after an aborted one its programmer still runs, so it is restarted (the
    // flash is kept, the request journal and armed faults are not).
    void ReadyBoard();

    // START with these selections: the index is loaded from the target directory, the run is
    // prepared and its worker runs to its end.
    void Run(const RunSelections& selections);
    RunSelections EmmcTest(const std::string& option, const std::string& label = "",
                           bool dump = false) const;
    RunSelections Restore(const std::string& label = "") const;

    // The run log after the eMMC test's sector-total line (or after the restore's start line),
    // up to the elapsed-time line.
    Lines TestLines() const;
    // The journal's requests with this command code.
    std::vector<Bytes> Requests(uint8_t code) const;
    Bytes ReadFlash(uint64_t sector, size_t sectors) const;
    void WriteFlash(uint64_t sector, const Bytes& bytes);
    Bytes ReadFile(const std::filesystem::path& path) const;
    void WriteFile(const std::filesystem::path& path, const Bytes& bytes) const;
    std::filesystem::path DumpFolder() const;

    std::filesystem::path folder;
    std::filesystem::path targetDir;
    sim::BoardOptions options;
    std::unique_ptr<sim::SimulatedBoard> board;
    FakeClock clock;
    RecordingView view;
    DeviceSteps steps;
    std::ostringstream console;
    Workbench bench{view, steps, clock, console};
};

// Deterministic bytes with every value, 0x7E and 0x7D included.
Bytes Noise(size_t size, unsigned seed);
uint32_t Le32(const Bytes& bytes, size_t at);

}  // namespace veltrix::testing
