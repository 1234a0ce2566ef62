// Dumping a partition of 64 MiB from the simulated board over its pseudo-terminal, one 512-byte
// READ per sector, beside the bare write/read ping-pong of the same frame sizes (a 7-byte
// request, a 517-byte answer). The ping-pong runs in slices between the dump's progress steps,
// so that both see the same load of a shared machine; its time is taken out of the dump's.
//   Run: scripts/bench.sh emmc
// Counters: dump_MBps and bare_MBps (data bytes per second, 10^6), rate_ratio (dump over bare;
// the target is at least 0.9), host-thread CPU microseconds per exchange of each.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "bench_board.h"
#include "diag/partition_read.h"
#include "diag/run_context.h"
#include "link/serial_link.h"
#include "protocol/dload.h"
#include "protocol/streaming.h"
#include "pty_echo.h"
#include "sim/simulated_board.h"

namespace {

namespace fs = std::filesystem;
using bench::Bytes;

constexpr int kBoardPort = 78;
constexpr uint32_t kStartSector = 2048;
// 64 MiB, or $VELTRIX_BENCH_MIB for a shorter look (under a profiler).
const uint32_t kSectors = [] {
    const char* mib = std::getenv("VELTRIX_BENCH_MIB");
    return (mib != nullptr ? static_cast<uint32_t>(std::atoi(mib)) : 64u) * (1u << 20) / 512;
}();
constexpr int kProgressSteps = 99;  // the bar moves 1..99 during the dump

void BM_DumpOverBare(benchmark::State& state) {
    const fs::path folder = bench::FreshFolder("emmc-bench");
    veltrix::sim::SimulatedBoard board(bench::BoardIn(folder, kBoardPort, 80ull << 20));
    std::string error;
    if (!board.Start(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (uint32_t mib = 0; mib < kSectors / 2048;
         ++mib) {  // every byte value, flags and escapes included
        const Bytes chunk = bench::Pattern((1u << 20) + mib);
        board.WriteEmmc((uint64_t{kStartSector} * 512) + (uint64_t{mib} << 20),
                        std::span(chunk).first(1u << 20));
    }

    bench::QuietView view;
    veltrix::RunContext ctx(view, veltrix::SystemClock::Instance());
    std::ostringstream console;
    veltrix::SerialLink link(veltrix::SystemClock::Instance(), &console);
    link.WatchCancel(&ctx.cancelFlag());
    veltrix::ProgrammerSession session;
    session.link = &link;
    const fs::path modelFolder = folder / "model" / "bench";
    const fs::path dumpFolder = modelFolder / "dump";
    fs::create_directories(dumpFolder);
    bench::WriteProgrammer(folder / "programmer.hex");
    if (link.Open(kBoardPort) != 0 || veltrix::DloadNop(session) != 0 ||
        veltrix::UploadHexProgrammer(folder / "programmer.hex", session) != 0 ||
        veltrix::ConnectProgrammer(session) != 0 || veltrix::OpenPartition(session) != 0) {
        state.SkipWithError(("cannot start the programmer: " + console.str()).c_str());
        return;
    }

    bench::BarePingPong bare(bench::Pattern(7), bench::Pattern(517));
    double bareWall = 0, bareCpu = 0, totalWall = 0, totalCpu = 0;
    long bareExchanges = 0;
    bool bareOk = true;
    view.onProgress = [&] {
        const double w0 = bench::WallSeconds(), c0 = bench::ThreadCpuSeconds();
        for (uint32_t i = 0; i < kSectors / kProgressSteps; ++i)
            bareOk = bare.Exchange() && bareOk;
        bareWall += bench::WallSeconds() - w0;
        bareCpu += bench::ThreadCpuSeconds() - c0;
        bareExchanges += kSectors / kProgressSteps;
    };
    long reads = 0;
    for (auto _ : state) {
        const double w0 = bench::WallSeconds(), c0 = bench::ThreadCpuSeconds();
        const int result = veltrix::ReadPartition(
            ctx, session, {kStartSector, kSectors, "dump64", &dumpFolder, {}});
        totalWall += bench::WallSeconds() - w0;
        totalCpu += bench::ThreadCpuSeconds() - c0;
        if (result != 0 || !bareOk) {
            state.SkipWithError("dump or ping-pong failed");
            break;
        }
        reads += kSectors;
    }
    const double dumpWall = totalWall - bareWall, dumpCpu = totalCpu - bareCpu;
    state.counters["dump_MBps"] = static_cast<double>(reads) * 512 / dumpWall / 1e6;
    state.counters["bare_MBps"] = static_cast<double>(bareExchanges) * 512 / bareWall / 1e6;
    state.counters["rate_ratio"] = state.counters["dump_MBps"] / state.counters["bare_MBps"];
    state.counters["dump_cpu_us"] = dumpCpu / static_cast<double>(reads) * 1e6;
    state.counters["bare_cpu_us"] = bareCpu / static_cast<double>(bareExchanges) * 1e6;
    link.Close();
    board.Stop();
    std::error_code ec;
    fs::remove_all(folder, ec);
}

BENCHMARK(BM_DumpOverBare)->Iterations(1)->Repetitions(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
