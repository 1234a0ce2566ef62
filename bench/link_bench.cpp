// Throughput of the frame check and the frame codec beside memcpy of the same bytes, and the
// Transact round trip over a pseudo-terminal beside a bare write/read ping-pong of the same
// bytes on the same pty.  Run: scripts/bench.sh link
// The round trips depend on the scheduler: on a shared machine compare medians, e.g.
//   build-bench/bench/link_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/framing/fcs.h"
#include "link/framing/frame_codec.h"
#include "link/serial_link.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;
constexpr int kBenchPort = 77;

Bytes Pattern(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i * 131 + 7);  // 7E/7D included
    return b;
}

Bytes Frame(const Bytes& body) {
    Bytes out(veltrix::MaxEncodedLength(body.size()));
    out.resize(veltrix::EncodeFrame(body, out.data()));
    return out;
}

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

// A pty whose master answers every request frame (two flags) with a fixed reply.
class EchoBoard {
public:
    explicit EchoBoard(Bytes reply) : reply_(std::move(reply)) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(master_);
        unlockpt(master_);
        termios t{};
        tcgetattr(master_, &t);
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
        slave_ = ptsname(master_);
        char templ[] = "/tmp/veltrix-bench-XXXXXX";
        folder_ = mkdtemp(templ);
        fs::create_symlink(slave_, folder_ / ("COM" + std::to_string(kBenchPort)));
        setenv("VELTRIX_PORTS", folder_.c_str(), 1);
        peer_ = std::thread([this] { Serve(); });
    }
    ~EchoBoard() {
        stop_ = true;
        peer_.join();
        close(master_);
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    const std::string& slave() const { return slave_; }

private:
    void Serve() {
        uint8_t buf[8192];
        int flags = 0;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = read(master_, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] == veltrix::kFrameFlag && ++flags == 2) {
                    flags = 0;
                    for (size_t done = 0; done < reply_.size();) {
                        const ssize_t w =
                            write(master_, reply_.data() + done, reply_.size() - done);
                        if (w > 0)
                            done += static_cast<size_t>(w);
                    }
                }
            }
        }
    }

    Bytes reply_;
    int master_ = -1;
    std::string slave_;
    fs::path folder_;
    std::thread peer_;
    std::atomic<bool> stop_{false};
};

// Args: request body length, reply body length (the FCS comes on top).
void BM_Transact(benchmark::State& state) {
    const Bytes request = Pattern(static_cast<size_t>(state.range(0)));
    EchoBoard board(Frame(Pattern(static_cast<size_t>(state.range(1)))));
    veltrix::SerialLink link;
    if (veltrix::OpenPort(link, kBenchPort) != 0) {
        state.SkipWithError("cannot open the pty");
        return;
    }
    Bytes reply(4096);
    for (auto _ : state) {
        int length = static_cast<int>(reply.size());
        const int code = veltrix::Transact(request.data(), static_cast<int>(request.size()), link,
                                           reply.data(), length);
        if (code != 0 || length != state.range(1) + 2) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
}

// The same bytes with nothing but write() and blocking read() on the slave.
void BM_BarePingPong(benchmark::State& state) {
    const Bytes request = Frame(Pattern(static_cast<size_t>(state.range(0))));
    const Bytes replyWire = Frame(Pattern(static_cast<size_t>(state.range(1))));
    EchoBoard board(replyWire);
    const int fd = open(board.slave().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    Bytes reply(replyWire.size());
    for (auto _ : state) {
        for (size_t done = 0; done < request.size();) {
            done += static_cast<size_t>(write(fd, request.data() + done, request.size() - done));
        }
        for (size_t got = 0; got < reply.size();) {
            const ssize_t n = read(fd, reply.data() + got, reply.size() - got);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
    }
    close(fd);
}

BENCHMARK(BM_Transact)->Args({1029, 11})->Args({7, 519})->UseRealTime();
BENCHMARK(BM_BarePingPong)->Args({1029, 11})->Args({7, 519})->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
