// Splitting a total binary image of more than 1 GiB beside `cp` of the same file, in the same
// run. Run with: scripts/bench.sh extract
//
// Each iteration runs `cp IMAGE COPY` and this program itself as "--extract IMAGE DIR" as child
// processes (alternating which goes first) and times both wall-clock, image warm in the page
// cache for both. Peak memory of the extraction is the child's own VmHWM from /proc/self/status
// at its end (after exec, so none of this process is counted); cp's is its ru_maxrss from wait4,
// an upper bound. The image and all outputs live in a temporary folder removed at the end.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "layout/image_extraction.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kMiB = 1 << 20;
constexpr uint64_t kSectorsPerMiB = kMiB / 512;

struct BenchPartition {
    const char* name;
    uint32_t startSector;
    uint32_t mib;
};

// 1105 MiB of data in six partitions; "system" comes in three pieces with 16 MiB gaps.
const std::vector<BenchPartition> kPartitions = {
    {"sbl1", 0x22, 1},
    {"modem", 0x10000, 256},
    {"system", 0x100000, 200},
    {"system", 0x100000 + 216 * kSectorsPerMiB, 200},
    {"system", 0x100000 + 432 * kSectorsPerMiB, 200},
    {"boot", 0x400000, 48},
    {"userdata", 0x500000, 200},
};

class NullLogView : public veltrix::LogView {
public:
    void InsertLogLine(int, const std::string&) override {}
    void DeleteLogLine(int) override {}
    void SelectLastLogLine() override {}
    void ShowMessage(const std::string&) override {}
};

void PutLe32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void WriteAll(int fd, const uint8_t* data, size_t count) {
    while (count > 0) {
        const ssize_t put = ::write(fd, data, count);
        if (put <= 0) {
            throw std::runtime_error("image write failed");
        }
        data += put;
        count -= static_cast<size_t>(put);
    }
}

// A dense image (real bytes everywhere, so cp cannot skip holes).
uint64_t GenerateImage(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot create image");
    }
    std::vector<uint8_t> chunk(kMiB, 0);
    PutLe32(chunk.data() + 0x4000, 0x56781234);
    for (size_t i = 0; i < kPartitions.size(); ++i) {
        uint8_t* record = chunk.data() + 0x2010 + 16 * i;
        PutLe32(record, kPartitions[i].startSector);
        PutLe32(record + 8, static_cast<uint32_t>(kPartitions[i].mib * kSectorsPerMiB));
        std::strncpy(reinterpret_cast<char*>(chunk.data()) + 0x4220 + 32 * i, kPartitions[i].name,
                     32);
    }
    PutLe32(chunk.data() + 0x2010 + 16 * kPartitions.size(), 0xFFFFFFFF);
    WriteAll(fd, chunk.data(), chunk.size());
    uint64_t dataMiB = 0;
    for (const BenchPartition& partition : kPartitions) {
        for (uint32_t m = 0; m < partition.mib; ++m, ++dataMiB) {
            for (size_t k = 0; k < chunk.size(); k += 64) {
                chunk[k] = static_cast<uint8_t>(dataMiB * 13 + k / 64 + 1);
                std::memset(chunk.data() + k + 1, static_cast<int>(0x5A ^ dataMiB), 63);
            }
            WriteAll(fd, chunk.data(), chunk.size());
        }
    }
    ::close(fd);
    return dataMiB;
}

struct ChildRun {
    double seconds = 0;
    long maxRssKiB = 0;
    std::string output;
    int status = 0;
};

ChildRun RunChild(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    ChildRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("spawn failed: " + args[0]);
    }
    ::close(pipeFds[1]);
    char buffer[256];
    ssize_t got = 0;
    while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        run.output.append(buffer, static_cast<size_t>(got));
    }
    ::close(pipeFds[0]);
    rusage usage{};
    ::wait4(pid, &run.status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.maxRssKiB = usage.ru_maxrss;
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0) {
        throw std::runtime_error("child failed: " + args[0]);
    }
    return run;
}

long PeakFromOutput(const std::string& output) {
    const auto at = output.find("VmHWM:");
    return at == std::string::npos ? -1 : std::strtol(output.c_str() + at + 6, nullptr, 10);
}

void BM_ExtractBesideCp(benchmark::State& state) {
    char pattern[] = "/tmp/veltrix-extract-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    const fs::path dir = pattern;
    const fs::path image = dir / "total.bin";
    const fs::path copy = dir / "copy.bin";
    const fs::path out = dir / "out";
    const uint64_t dataMiB = GenerateImage(image);
    double cpTotal = 0, extractTotal = 0;
    long extractPeak = 0, cpPeak = 0;
    bool cpFirst = true;
    for (auto _ : state) {
        fs::create_directory(out);
        ChildRun cp, extract;
        const std::vector<std::string> cpArgs = {"/bin/cp", image.string(), copy.string()};
        const std::vector<std::string> extractArgs = {"/proc/self/exe", "--extract", image.string(),
                                                      out.string()};
        if (cpFirst) {
            cp = RunChild(cpArgs);
            extract = RunChild(extractArgs);
        } else {
            extract = RunChild(extractArgs);
            cp = RunChild(cpArgs);
        }
        cpFirst = !cpFirst;
        state.SetIterationTime(extract.seconds);
        cpTotal += cp.seconds;
        extractTotal += extract.seconds;
        extractPeak = std::max(extractPeak, PeakFromOutput(extract.output));
        cpPeak = std::max(cpPeak, cp.maxRssKiB);
        fs::remove(copy);
        fs::remove_all(out);
    }
    fs::remove_all(dir);
    const double n = static_cast<double>(state.iterations());
    state.counters["data_MiB"] = static_cast<double>(dataMiB);
    state.counters["cp_s"] = cpTotal / n;
    state.counters["extract_s"] = extractTotal / n;
    state.counters["ratio_to_cp"] = extractTotal / cpTotal;
    state.counters["extract_peak_MiB"] = static_cast<double>(extractPeak) / 1024.0;
    state.counters["cp_maxrss_MiB"] = static_cast<double>(cpPeak) / 1024.0;
}
BENCHMARK(BM_ExtractBesideCp)->Iterations(4)->UseManualTime()->Unit(benchmark::kMillisecond);

// The child: one extraction, then its own peak resident size.
int RunExtractionChild(const char* image, const char* dir) {
    NullLogView view;
    const int result = veltrix::ExtractTotalImage(image, dir, view);
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            std::printf("%s\n", line.c_str());
        }
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--extract") == 0) {
        return RunExtractionChild(argv[2], argv[3]);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
