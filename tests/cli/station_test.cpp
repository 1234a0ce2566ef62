// The station: veltrix-cli run --port with a list runs the same tests on every board at once,
// one engine each, against simulated boards on their own ports, with one report for all.
#include <signal.h>

#include <chrono>
#include <thread>

#include "cli/exit_status.h"
#include "tests/cli/cli_board_fixture.h"

namespace veltrix::cli {
namespace {

using namespace std::chrono_literals;

class StationTest : public CliTest {
protected:
    // Boards of the DLOAD model on `ports`, each with its own flash holding its own bytes at
    // sbl2; the boards named in `silent` do not answer in download mode.
    void StartBoards(const std::vector<int>& ports, const std::vector<int>& silent = {}) {
        for (const int port : ports) {
            sim::BoardOptions o = testing::BoardFor(scene, kDloadModel, port);
            o.emmcPath = scene.root() / ("emmc-" + std::to_string(port) + ".bin");
            if (std::find(silent.begin(), silent.end(), port) != silent.end()) {
                o.faults = {{.kind = sim::FaultKind::kSilence, .count = 1000}};
            }
            boards.push_back(testing::StartBoard(o));
            ASSERT_TRUE(boards.back());
            ASSERT_TRUE(boards.back()->WriteEmmc(8 * 512, testing::Noise(1024, port)));
        }
    }
    Lines Args(const std::string& ports) const {
        return {"run",
                "--model=" + std::string(kDloadModel),
                "--port=" + ports,
                "--target=" + scene.targetDir().string(),
                "--workdir=" + scene.workDir().string(),
                "--emmc",
                "--dump",
                "--option=Read only",
                "--partition=sbl2",
                "--record=" + Root("station.json"),
                "--summary"};
    }
    std::string Root(const std::string& name) const { return (scene.root() / name).string(); }
    fs::path Dump(int port) const {
        return scene.ModelFolder(kDloadModel) / "dump" / ("COM" + std::to_string(port)) /
               "sbl2.dump";
    }

    std::vector<std::unique_ptr<sim::SimulatedBoard>> boards;
};

// Four boards: three pass with each its own dump in its own folder, one that is not in download
// mode aborts alone; every log line says its port; one record and one summary hold all four.
TEST_F(StationTest, SameTestsOnEveryBoardAtOnceWithOneReport) {
    StartBoards({21, 22, 23, 24}, {23});
    const std::string out = Root("out"), err = Root("err");
    EXPECT_EQ(Program(Args("21,22-24"), out, err, ""), kExitAborted) << ReadText(err);
    for (const int port : {21, 22, 24}) {
        EXPECT_EQ(testing::ReadBytes(Dump(port)), testing::Noise(1024, port)) << port;
    }
    EXPECT_FALSE(fs::exists(Dump(23)));
    const std::string log = ReadText(out);
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.starts_with("COM2") || line.starts_with("{")) << line;
    }
    EXPECT_TRUE(Has(log, "COM21: ======== AP CHECK START\n"));
    EXPECT_TRUE(Has(log, "COM24: sbl2 partition read done..\n"));
    EXPECT_TRUE(Has(log, "COM23: TEST aborted!!\n"));
    EXPECT_TRUE(Has(log, R"j({"boards":4,"pass":3,"fail":0,"aborted":1,"refused":0,"exit":2})j"));
    EXPECT_TRUE(Has(log, R"j("port":"22","ending":"completed")j"));
    const std::string said = ReadText(err);
    EXPECT_TRUE(Has(said, "COM23: message: ")) << said;  // the box did not wait
    EXPECT_TRUE(Has(said, "COM23  ABORTED: board not in download mode")) << said;
    EXPECT_TRUE(Has(said, Dump(21).string())) << said;
    const std::string record = ReadText(Root("station.json"));
    EXPECT_TRUE(StrictJson::Valid(record)) << record;
    EXPECT_TRUE(Has(record, "\"station\":{\"started\":\"20"));
    EXPECT_EQ(std::count(log.begin(), log.end(), '{'), 5);  // four boards' summaries, the station's
    size_t runs = 0;
    for (size_t at = record.find("\"verdict\":"); at != std::string::npos;
         at = record.find("\"verdict\":", at + 1)) {
        ++runs;
    }
    EXPECT_EQ(runs, 4u);
}

// A command line refused for one board is refused for all before any board is touched.
TEST_F(StationTest, ARefusalForOneBoardStartsNone) {
    StartBoards({21, 22});
    const std::string out = Root("out"), err = Root("err");
    EXPECT_EQ(Program(Args("21,22,98"), out, err, ""), kExitNotStarted);
    EXPECT_TRUE(Has(ReadText(err), "COM 98 is ")) << ReadText(err);
    EXPECT_TRUE(Has(ReadText(out), R"j("refused":3,"exit":3})j")) << ReadText(out);
    for (const auto& board : boards) {
        EXPECT_TRUE(board->RequestJournal().empty());
    }
    EXPECT_EQ(Program(Args("21,21"), out, err, ""), kExitUsage);
    EXPECT_TRUE(Has(ReadText(err), "--port lists COM 21 twice")) << ReadText(err);
}

// SIGTERM cancels every board: each ends as aborted promptly, its port free, and the record holds
// every board.
TEST_F(StationTest, ASignalCancelsEveryBoard) {
    StartBoards({21, 22, 23});
    const std::string out = Root("out"), err = Root("err");
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = StartProgram(Args("21,22,23"), out, err, "");
    // The programmer is given 2 s to start on every board: the signal comes meanwhile.
    const std::string waiting = "Waiting for the device to connect in flash prg\n";
    for (const int port : {21, 22, 23}) {
        const std::string line = "COM" + std::to_string(port) + ": " + waiting;
        while (!Has(ReadText(out), line) && std::chrono::steady_clock::now() < start + 10s) {
            std::this_thread::sleep_for(20ms);
        }
    }
    kill(pid, SIGTERM);
    const int status = WaitProgram(pid);
    EXPECT_EQ(status, kExitAborted);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    const std::string record = ReadText(Root("station.json"));
    EXPECT_TRUE(StrictJson::Valid(record));
    size_t cancelled = 0;
    for (size_t at = record.find("\"cancelled\":true"); at != std::string::npos;
         at = record.find("\"cancelled\":true", at + 1)) {
        ++cancelled;
    }
    EXPECT_EQ(cancelled, 3u) << record;
    for (const int port : {21, 22, 23}) {
        SerialLink link;
        EXPECT_EQ(link.Open(port), kErrorSuccess) << port;
    }
}

}  // namespace
}  // namespace veltrix::cli
