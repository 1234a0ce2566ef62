// Throughput of the frame check and the frame codec beside memcpy of the same bytes, and the
// Transact round trip over a pseudo-terminal beside a bare write/read ping-pong of the same
// bytes on the same pty.  Run: scripts/bench.sh link
// The round trips depend on the scheduler: BM_TransactOverBare alternates the two in one run and
// reports their ratios; otherwise compare medians on a shared machine, e.g.
//   build-bench/bench/link_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "link/framing/fcs.h"
#include "link/framing/frame_codec.h"
#include "link/serial_link.h"
#include "pty_echo.h"

namespace {

using bench::Bytes;
using bench::Frame;
using bench::Pattern;
constexpr int kBenchPort = 77;

void BM_Memcpy(benchmark::State& state) {
    const Bytes src = Pattern(static_cast<size_t>(state.range(0)));
    Bytes dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Fcs16(benchmark::State& state) {
    const Bytes src = Pattern(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(veltrix::Fcs16(src));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_EncodeFrame(benchmark::State& state) {
    const Bytes src = Pattern(static_cast<size_t>(state.range(0)));
    Bytes out(veltrix::MaxEncodedLength(src.size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(veltrix::EncodeFrame(src, out.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// Collect, unstuff and check a received frame: what Transact does with the reply bytes.
size_t DecodeFrame(const Bytes& wire, Bytes& raw, Bytes& out) {
    veltrix::FrameCollector collector(raw);
    veltrix::FrameCollector::Step step;
    collector.Feed(wire, &step);
    const size_t n = veltrix::UnstuffFrame(collector.Raw(), out.data());
    return veltrix::FrameFcsMatches({out.data(), n}) ? n : 0;
}

void BM_DecodeFrame(benchmark::State& state) {
    const Bytes wire = Frame(Pattern(static_cast<size_t>(state.range(0))));
    Bytes raw(veltrix::kFrameBufferSize), out(wire.size());
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeFrame(wire, raw, out));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// The 3 µs budget: a 1 KiB body encoded, then collected, unstuffed and checked.
void BM_EncodeDecode1KiB(benchmark::State& state) {
    const Bytes body = Pattern(1024);
    Bytes wire(veltrix::MaxEncodedLength(body.size())), raw(veltrix::kFrameBufferSize);
    Bytes out(wire.size());
    for (auto _ : state) {
        wire.resize(veltrix::MaxEncodedLength(body.size()));
        wire.resize(veltrix::EncodeFrame(body, wire.data()));
        benchmark::DoNotOptimize(DecodeFrame(wire, raw, out));
    }
    state.SetBytesProcessed(state.iterations() * 1024);
}

BENCHMARK(BM_Memcpy)->Arg(1024)->Arg(65536);
BENCHMARK(BM_Fcs16)->Arg(1024)->Arg(65536);
BENCHMARK(BM_EncodeFrame)->Arg(1024)->Arg(65536);
BENCHMARK(BM_DecodeFrame)->Arg(1024)->Arg(65536);
BENCHMARK(BM_EncodeDecode1KiB);

// Args: request body length, reply body length (the FCS comes on top).
void BM_Transact(benchmark::State& state) {
    const Bytes request = Pattern(static_cast<size_t>(state.range(0)));
    bench::EchoBoard board(Frame(Pattern(static_cast<size_t>(state.range(1)))), kBenchPort);
    veltrix::SerialLink link;
    if (link.Open(kBenchPort) != 0) {
        state.SkipWithError("cannot open the pty");
        return;
    }
    Bytes reply(4096);
    for (auto _ : state) {
        int length = static_cast<int>(reply.size());
        const int code =
            link.Transact(request.data(), static_cast<int>(request.size()), reply.data(), length);
        if (code != 0 || length != state.range(1) + 2) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
}

// The same bytes with nothing but write() and blocking read() on the slave.
void BM_BarePingPong(benchmark::State& state) {
    bench::BarePingPong pingPong(Pattern(static_cast<size_t>(state.range(0))),
                                 Pattern(static_cast<size_t>(state.range(1))));
    for (auto _ : state) {
        if (!pingPong.Exchange()) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
}

BENCHMARK(BM_Transact)->Args({1029, 11})->Args({7, 519})->UseRealTime();
BENCHMARK(BM_BarePingPong)->Args({1029, 11})->Args({7, 519})->UseRealTime();

// Transact beside the bare ping-pong in one run, alternating batches of each so that the load
// of a shared machine weighs on both alike. Counters: wall and host-thread CPU microseconds per
// exchange of each, and their ratios (Transact over bare; the target is at most 1.1).
void BM_TransactOverBare(benchmark::State& state) {
    constexpr int kBatch = 200;
    constexpr int kBatches = 100;
    const Bytes request = Pattern(static_cast<size_t>(state.range(0)));
    const Bytes replyBody = Pattern(static_cast<size_t>(state.range(1)));
    bench::EchoBoard board(Frame(replyBody), kBenchPort);
    bench::BarePingPong bare(request, replyBody);
    veltrix::SerialLink link;
    if (link.Open(kBenchPort) != 0) {
        state.SkipWithError("cannot open the pty");
        return;
    }
    Bytes reply(4096);
    double wall[2] = {0, 0}, cpu[2] = {0, 0};
    long exchanges = 0;
    for (auto _ : state) {
        for (int b = 0; b < kBatches; ++b) {
            for (int side = 0; side < 2; ++side) {
                const double w0 = bench::WallSeconds(), c0 = bench::ThreadCpuSeconds();
                for (int i = 0; i < kBatch; ++i) {
                    int length = static_cast<int>(reply.size());
                    const bool ok =
                        side == 0 ? link.Transact(request.data(), static_cast<int>(request.size()),
                                                  reply.data(), length) == 0
                                  : bare.Exchange();
                    if (!ok) {
                        state.SkipWithError("exchange failed");
                        return;
                    }
                }
                wall[side] += bench::WallSeconds() - w0;
                cpu[side] += bench::ThreadCpuSeconds() - c0;
            }
        }
        exchanges += kBatch * kBatches;
    }
    const double n = static_cast<double>(exchanges);
    state.counters["transact_us"] = wall[0] / n * 1e6;
    state.counters["bare_us"] = wall[1] / n * 1e6;
    state.counters["transact_cpu_us"] = cpu[0] / n * 1e6;
    state.counters["bare_cpu_us"] = cpu[1] / n * 1e6;
    state.counters["wall_ratio"] = wall[0] / wall[1];
    state.counters["cpu_ratio"] = cpu[0] / cpu[1];
}

BENCHMARK(BM_TransactOverBare)->Args({1029, 11})->Args({7, 519})->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
