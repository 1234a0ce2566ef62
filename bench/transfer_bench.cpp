// A dump of 64 MiB from the simulated board, one READ of 512 bytes per sector, with one request
// in flight and with a window of eight, over a line with USB's latency (250 us per answer) and
// over the bare pseudo-terminal; beside the bare write/read ping-pong of the same frames (a
// 7-byte request, a 517-byte answer) with one in flight. Each dump runs twice.
//   Run: scripts/bench.sh transfer
// It ends with one line:
//   transfer: latency 250 us: window 1 A MB/s, window 8 B MB/s (Sx); no latency: ping-pong
//   C MB/s, window 8 D MB/s (Tx)
// Targets: S at least 5 (the dump stops paying the round trip), T at least 1.5 (with the window
// the dump beats the one-at-a-time bare link). Counters give the host thread's CPU per sector.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
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

constexpr int kBoardPort = 79;
constexpr uint32_t kStartSector = 2048;
constexpr uint32_t kLatencyUs = 250;
// 64 MiB, or $VELTRIX_BENCH_MIB for a shorter look.
const uint32_t kSectors = [] {
    const char* mib = std::getenv("VELTRIX_BENCH_MIB");
    return (mib != nullptr ? static_cast<uint32_t>(std::atoi(mib)) : 64u) * (1u << 20) / 512;
}();

struct Measure {
    double mbps = 0;            // data bytes per second, 10^6
    double cpuUsPerSector = 0;  // the host thread's
};

// Two dumps of kSectors sectors with `window` READs in flight, from a board whose answers come
// `latencyUs` after their requests. Nothing when the dump failed.
std::optional<Measure> TimeDump(uint32_t latencyUs, int window) {
    const fs::path folder = bench::FreshFolder("transfer-bench");
    veltrix::sim::BoardOptions options = bench::BoardIn(folder, kBoardPort, 80ull << 20);
    options.linkLatencyUs = latencyUs;
    std::optional<Measure> measure;
    {
        veltrix::sim::SimulatedBoard board(options);
        std::string error;
        if (board.Start(&error)) {
            const Bytes chunk = bench::Pattern(1u << 20);  // every byte value, 7E and 7D too
            for (uint32_t mib = 0; mib < kSectors / 2048; ++mib) {
                board.WriteEmmc(uint64_t{kStartSector} * 512 + (uint64_t{mib} << 20), chunk);
            }
            bench::QuietView view;
            veltrix::RunContext ctx(view, veltrix::SystemClock::Instance());
            std::ostringstream console;
            veltrix::SerialLink link(veltrix::SystemClock::Instance(), &console);
            veltrix::ProgrammerSession session;
            session.link = &link;
            session.readWindow = window;
            bench::WriteProgrammer(folder / "programmer.hex");
            const fs::path dumps = folder / "dump";
            if (link.Open(kBoardPort) == 0 && veltrix::DloadNop(session) == 0 &&
                veltrix::UploadHexProgrammer(folder / "programmer.hex", session) == 0 &&
                veltrix::ConnectProgrammer(session) == 0 && veltrix::OpenPartition(session) == 0) {
                double wall = 0, cpu = 0;
                bool ok = true;
                for (int run = 0; run < 2 && ok; ++run) {
                    const double w0 = bench::WallSeconds(), c0 = bench::ThreadCpuSeconds();
                    ok = veltrix::ReadPartition(
                             ctx, session, {kStartSector, kSectors, "dump64", &dumps, {}}) == 0;
                    wall += bench::WallSeconds() - w0;
                    cpu += bench::ThreadCpuSeconds() - c0;
                }
                if (ok) {
                    measure =
                        Measure{2.0 * kSectors * 512 / wall / 1e6, cpu / (2.0 * kSectors) * 1e6};
                }
            }
            link.Close();
        }
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    return measure;
}

// The bare ping-pong of the same frames, one in flight, as many exchanges as a dump has.
double PingPongMbps() {
    bench::BarePingPong bare(bench::Pattern(7), bench::Pattern(517));
    const double w0 = bench::WallSeconds();
    for (uint32_t i = 0; i < kSectors; ++i) {
        if (!bare.Exchange()) {
            return -1;
        }
    }
    return static_cast<double>(kSectors) * 512 / (bench::WallSeconds() - w0) / 1e6;
}

void BM_TransferWindow(benchmark::State& state) {
    for (auto _ : state) {
        const auto slow1 = TimeDump(kLatencyUs, 1);
        const auto slow8 = TimeDump(kLatencyUs, 8);
        const double pingPong = PingPongMbps();
        const auto fast1 = TimeDump(0, 1);
        const auto fast8 = TimeDump(0, 8);
        if (!slow1 || !slow8 || !fast1 || !fast8 || pingPong <= 0) {
            state.SkipWithError("a dump or the ping-pong failed");
            return;
        }
        state.counters["latency_w1_MBps"] = slow1->mbps;
        state.counters["latency_w8_MBps"] = slow8->mbps;
        state.counters["pingpong_MBps"] = pingPong;
        state.counters["w8_MBps"] = fast8->mbps;
        state.counters["w1_MBps"] = fast1->mbps;
        // The host thread's CPU per sector, one READ in flight and eight, with no latency.
        state.counters["w1_cpu_us"] = fast1->cpuUsPerSector;
        state.counters["w8_cpu_us"] = fast8->cpuUsPerSector;
        std::printf(
            "transfer: latency %u us: window 1 %.2f MB/s, window 8 %.2f MB/s (%.1fx); no "
            "latency: ping-pong %.2f MB/s, window 8 %.2f MB/s (%.2fx)\n",
            kLatencyUs, slow1->mbps, slow8->mbps, slow8->mbps / slow1->mbps, pingPong, fast8->mbps,
            fast8->mbps / pingPong);
    }
}
BENCHMARK(BM_TransferWindow)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
