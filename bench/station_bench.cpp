// A station of four boards against one board: the same selections (the AP check and an eMMC
// "Read only" test with a 2 MiB dump) on simulated boards over their pseudo-terminals, each
// board with a run engine of its own, side by side in one benchmark run on the real clock.
//   Run: scripts/bench.sh station
// Counters: one_board_s and four_boards_s (wall time of a whole run), ratio (four over one; the
// target is at most 1.3: boards at a station do not wait for one another).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "bench_board.h"
#include "diag/station.h"
#include "layout/partition_txt.h"
#include "sim/simulated_board.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kModel = "Tamsin (APQ8064)";  // DLOAD, family 1
constexpr int kFirstPort = 81;
constexpr uint32_t kDumpStart = 2048;
constexpr uint32_t kDumpSectors = 4096;  // 2 MiB

// The model's folder (a tiny programmer, a program list naming sbl2) and the target directory's
// partition.txt.
void WriteBench(const fs::path& work, const fs::path& target) {
    const fs::path model = work / "model" / kModel;
    fs::create_directories(model / "boot_partition_info");
    bench::WriteProgrammer(model / "2nd_loader.hex");
    std::ofstream(model / "boot_partition_info" / "rawprogram0.xml")
        << "<data><program label=\"sbl2\" filename=\"sbl2.mbn\" start_sector=\"0\" "
           "num_partition_sectors=\"1\"/></data>\n";
    fs::create_directories(target);
    veltrix::PartitionTxtRecord sbl2;
    sbl2.startSector = kDumpStart;
    sbl2.sectorCount = kDumpSectors;
    std::copy_n("sbl2", 4, sbl2.label.begin());
    std::copy_n("sbl2.mbn", 8, sbl2.fileName.begin());
    const std::vector<veltrix::PartitionTxtRecord> records = {sbl2};
    veltrix::WritePartitionTxt(target, records);
}

// One station run of `boards` boards to its end; its wall time in seconds, or a negative value
// when a board did not pass.
double TimeStation(int boards, const fs::path& work, const fs::path& target) {
    std::vector<std::unique_ptr<bench::QuietView>> views;
    std::ostringstream console;
    std::vector<veltrix::Station::Board> list;
    for (int i = 0; i < boards; ++i) {
        views.push_back(std::make_unique<bench::QuietView>());
        list.push_back({kFirstPort + i, views.back().get(), &console});
    }
    veltrix::Station station(list, veltrix::SystemClock::Instance(), work);
    veltrix::RunSelections s;
    s.apCheck = s.emmcTest = s.dump = true;
    s.model = kModel;
    s.option = "Read only";
    s.partitionLabel = "sbl2";
    s.targetDir = target.string();
    const auto start = std::chrono::steady_clock::now();
    station.Start(s);
    while (station.InProgress()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    station.Join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return station.Report().exitStatus == veltrix::kExitPassed ? seconds : -1.0;
}

void BM_FourBoardsAgainstOne(benchmark::State& state) {
    const fs::path folder = bench::FreshFolder("station-bench");
    WriteBench(folder / "work", folder / "target");
    std::vector<std::unique_ptr<veltrix::sim::SimulatedBoard>> boards;
    for (int i = 0; i < 4; ++i) {
        veltrix::sim::BoardOptions options = bench::BoardIn(folder, kFirstPort + i, 16ull << 20);
        options.resetDelayMs = 20;
        boards.push_back(std::make_unique<veltrix::sim::SimulatedBoard>(options));
        std::string error;
        if (!boards.back()->Start(&error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    double one = 0, four = 0;
    for (auto _ : state) {
        one += TimeStation(1, folder / "work", folder / "target");
        // The boards come back from their RESET before the next run.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        four += TimeStation(4, folder / "work", folder / "target");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["one_board_s"] = one / runs;
    state.counters["four_boards_s"] = four / runs;
    state.counters["ratio"] = one > 0 && four > 0 ? four / one : -1;
    boards.clear();
    fs::remove_all(folder);
}
BENCHMARK(BM_FourBoardsAgainstOne)->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
