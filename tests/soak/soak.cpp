// A day at the station in one process: K simulated boards, each with a run engine of its own as
// the window holds one, N runs in all with selections drawn from a seed, and boards that commit
// random faults (from seeds of their own, so a soak can be replayed). At the end one line:
//   soak: N runs on K boards, H hangs, R records, rss A -> B MB, fds C -> D,
//         endings completed=X failed=Y aborted=Z
// A hang is a run that outlives its bound; R counts the run records written; rss and fds are
// measured after the first tenth of the runs and at the end. With --check the exit status says
// whether the targets hold: no hang, a record per run, no more descriptors at the end than after
// the first tenth, and (with --max-rss-growth) the resident memory within its bound.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "diag/run_engine.h"
#include "diag/run_report.h"
#include "sim/simulated_board.h"
#include "tests/support/bench_scene.h"
#include "tests/support/engine_rig.h"
#include "tests/support/scene_board.h"

namespace veltrix::soak {
namespace {

using namespace std::chrono_literals;
using testing::BenchScene;
using testing::Partition;

struct Settings {
    int runs = 40;
    int boards = 4;
    uint32_t seed = 2026;
    double faultRate = 0.03;  // about a third of the runs fail or abort
    bool check = false;
    double maxRssGrowth = -1;  // percent; negative: not checked
};

// The run's waits pass 50 times faster than written: a DDR wait of 15 s takes 0.3 s. The port's
// own time-outs stay real, so a board that does not answer still costs its full time-out.
class FastClock final : public Clock {
public:
    void Sleep(uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max<uint32_t>(1, ms / 50)));
    }
    int64_t NowSeconds() override { return SystemClock::Instance().NowSeconds(); }
};

// A front end that looks at nothing but the end of the run; message boxes never wait.
class QuietView final : public RunView {
public:
    void InsertLogLine(int, const std::string&) override {}
    void DeleteLogLine(int) override {}
    void SelectLastLogLine() override {}
    void ShowMessage(const std::string&) override {}
    void PushStatus(const std::string&) override {}
    void SetProgress(int) override {}
    void SetResultBox(ResultBox, const std::string&) override {}
    void ClearLog() override {}
    void RunEnded() override {
        std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }
    bool WaitEnded(std::chrono::milliseconds bound) {
        std::unique_lock lock(mutex_);
        const bool ended = changed_.wait_for(lock, bound, [this] { return ended_; });
        ended_ = false;
        return ended;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ended_ = false;
};

struct Tally {
    std::mutex mutex;
    int started = 0;  // runs handed out
    int done = 0;
    int hangs = 0;
    int records = 0;
    int completed = 0, failed = 0, aborted = 0, refused = 0;
    int tenth = 0;  // after this many runs the first measurement is taken
    double rssTenth = 0, rssEnd = 0;
    int fdsTenth = 0, fdsEnd = 0;
};

double RssMb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(dir)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(dir);
    }
    return count - 1;  // the one opendir holds
}

const char* const kModels[] = {testing::kDloadModel, testing::kSaharaModel, testing::kDdrModel};

// The selections of one run on a board of `model`, drawn from `rng`.
RunSelections DrawSelections(const BenchScene& scene, const std::string& model, std::mt19937& rng) {
    const bool ddrModel = model == testing::kDdrModel;
    switch (std::uniform_int_distribution<int>(0, 9)(rng)) {
        case 0:
        case 1:
            return testing::EmmcRun(scene, model, "Read only", "sbl1");
        case 2:
            return testing::EmmcRun(scene, model, "Read only", "sbl1", /*dump=*/true);
        case 3:
            return testing::EmmcRun(scene, model, "Read/Write", "sbl2");
        case 4:
            return testing::RestoreRun(scene, model, "sbl1");
        case 5: {
            RunSelections s = testing::SdramRun(scene, model, false, "0");
            s.pmicOn = true;
            s.sdramTest = false;
            return s;
        }
        case 6:
            return testing::SdramRun(scene, model, false, ddrModel ? "1" : "0");
        default: {  // the AP check alone
            RunSelections s = testing::SdramRun(scene, model, false, "0");
            s.sdramTest = false;
            return s;
        }
    }
}

class Station {
public:
    Station(const Settings& settings, BenchScene& scene, const std::filesystem::path& records)
        : settings_(settings), scene_(scene), records_(records) {}

    // Board `index`'s share of the day: its own board, engine and clock, runs until none are
    // left to hand out.
    void Serve(int index) {
        const std::string model = kModels[index % std::size(kModels)];
        const int port = index + 1;
        sim::BoardOptions options = testing::BoardFor(scene_, model, port);
        options.emmcPath = scene_.root() / ("emmc-" + std::to_string(port) + ".bin");
        options.resetDelayMs = 50;
        options.randomFaults =
            sim::RandomFaults{settings_.seed + 1000u * port, settings_.faultRate};
        std::mt19937 rng(settings_.seed + static_cast<uint32_t>(port));
        QuietView view;
        FastClock clock;
        std::ostringstream console;
        RunEngine engine(view, console, clock, scene_.workDir());
        engine.KeepDumpsPerPort(true);
        std::unique_ptr<sim::SimulatedBoard> board;
        for (int run = NextRun(); run >= 0; run = NextRun()) {
            PowerCycleWhenNeeded(board, options);
            console.str("");
            const RunSelections selections = DrawSelections(scene_, model, rng);
            if (engine.Start(selections, port) == kErrorSuccess && !view.WaitEnded(kRunBound)) {
                Count([](Tally& t) { ++t.hangs; });
                engine.Cancel();
                view.WaitEnded(kRunBound);
            }
            engine.Join();
            Finish(run, port, engine.Report());
        }
        // Every board and engine stays until the last run has ended and been measured.
        while (!AllDone()) {
            std::this_thread::sleep_for(10ms);
        }
        engine.ShutDown();
    }

    Tally& tally() { return tally_; }

private:
    static constexpr std::chrono::seconds kRunBound{180};

    int NextRun() {
        std::lock_guard lock(tally_.mutex);
        return tally_.started < settings_.runs ? tally_.started++ : -1;
    }

    bool AllDone() {
        std::lock_guard lock(tally_.mutex);
        return tally_.done == settings_.runs;
    }

    template <typename Change>
    void Count(Change change) {
        std::lock_guard lock(tally_.mutex);
        change(tally_);
    }

    // A technician powers a board off and on in download mode when a run left it running a
    // program (or it dropped off the bus); the simulated board does the same by starting again.
    static void PowerCycleWhenNeeded(std::unique_ptr<sim::SimulatedBoard>& board,
                                     const sim::BoardOptions& options) {
        const auto inRom = [&] {
            const sim::BoardMode mode = board->mode();
            return (mode == sim::BoardMode::kDloadRom || mode == sim::BoardMode::kSaharaRom) &&
                   !board->linkPath().empty();
        };
        if (board && !board->WaitUntil(inRom, 2000)) {
            board.reset();
        }
        if (!board) {
            board = std::make_unique<sim::SimulatedBoard>(options);
            std::string error;
            if (!board->Start(&error)) {
                std::fprintf(stderr, "soak: board on COM%d did not start: %s\n", options.portNumber,
                             error.c_str());
            }
            board->WaitUntil(inRom, 2000);
        }
    }

    void Finish(int run, int port, const RunReport& report) {
        const std::filesystem::path file =
            records_ / ("run-" + std::to_string(run) + "-COM" + std::to_string(port) + ".json");
        std::string reason;
        const bool written = WriteWholeFile(file, RecordDocument(report), &reason) == 0;
        Count([&](Tally& t) {
            t.records += written ? 1 : 0;
            const int status = report.exitStatus;
            t.completed += status == kExitPassed ? 1 : 0;
            t.failed += status == kExitTestFailed ? 1 : 0;
            t.aborted += status == kExitAborted ? 1 : 0;
            t.refused += status == kExitNotStarted ? 1 : 0;
            // Measured while every board and engine is there: after the first tenth, and after
            // the last run.
            if (++t.done == t.tenth) {
                t.rssTenth = RssMb();
                t.fdsTenth = OpenDescriptors();
            }
            if (t.done == settings_.runs) {
                t.rssEnd = RssMb();
                t.fdsEnd = OpenDescriptors();
            }
        });
    }

    const Settings& settings_;
    BenchScene& scene_;
    std::filesystem::path records_;
    Tally tally_;
};

bool ParseSettings(int argc, char** argv, Settings& s) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valued = i + 1 < argc;
        if (arg == "--runs" && valued) {
            s.runs = std::atoi(argv[++i]);
        } else if (arg == "--boards" && valued) {
            s.boards = std::atoi(argv[++i]);
        } else if (arg == "--seed" && valued) {
            s.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--fault-rate" && valued) {
            s.faultRate = std::atof(argv[++i]);
        } else if (arg == "--max-rss-growth" && valued) {
            s.maxRssGrowth = std::atof(argv[++i]);
        } else if (arg == "--check") {
            s.check = true;
        } else {
            return false;
        }
    }
    return s.runs > 0 && s.boards > 0 && s.boards <= 16 && s.faultRate >= 0 && s.faultRate <= 1;
}

int Soak(const Settings& settings) {
    BenchScene scene;
    for (const char* model : kModels) {
        scene.WriteModel(model, {"sbl1", "sbl2"});
    }
    scene.WritePartitions({{"PrimaryGPT", 0, 34},
                           {"sbl1", 64, 16},
                           {"sbl2", 128, 8},
                           {"OEMSBL1", 192, 8},
                           {"OEMSBL2", 256, 8},
                           {"QCSBL", 320, 8}});
    const std::filesystem::path records = scene.root() / "records";
    std::filesystem::create_directories(records);
    Station station(settings, scene, records);
    station.tally().tenth = std::max(1, settings.runs / 10);
    std::vector<std::thread> boards;
    for (int k = 0; k < settings.boards; ++k) {
        boards.emplace_back([&station, k] { station.Serve(k); });
    }
    for (std::thread& t : boards) {
        t.join();
    }
    const Tally& t = station.tally();
    const double rssEnd = t.rssEnd;
    const int fdsEnd = t.fdsEnd;
    std::printf(
        "soak: %d runs on %d boards, %d hangs, %d records, rss %.1f -> %.1f MB, fds %d -> %d, "
        "endings completed=%d failed=%d aborted=%d",
        t.done, settings.boards, t.hangs, t.records, t.rssTenth, rssEnd, t.fdsTenth, fdsEnd,
        t.completed, t.failed, t.aborted);
    std::printf(t.refused > 0 ? " refused=%d\n" : "\n", t.refused);
    if (!settings.check) {
        return 0;
    }
    const bool rssHolds =
        settings.maxRssGrowth < 0 || rssEnd <= t.rssTenth * (1.0 + settings.maxRssGrowth / 100.0);
    return t.hangs == 0 && t.records == settings.runs && fdsEnd <= t.fdsTenth && rssHolds ? 0 : 1;
}

}  // namespace
}  // namespace veltrix::soak

int main(int argc, char** argv) {
    veltrix::soak::Settings settings;
    if (!veltrix::soak::ParseSettings(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: veltrix-soak [--runs N] [--boards K (1-16)] [--seed S] "
                     "[--fault-rate R] [--check] [--max-rss-growth PERCENT]\n");
        return 64;
    }
    return veltrix::soak::Soak(settings);
}
