// veltrix-cli's run and extract commands end to end: the simulated board on a real pty, real
// files, and the exit statuses and summary a production script relies on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/run_report.h"
#include "cli/sha256.h"
#include "diag/device_steps.h"
#include "link/serial_link.h"
#include "sim/simulated_board.h"
#include "tests/support/fake_clock.h"

namespace veltrix::cli {
namespace {

namespace fs = std::filesystem;
constexpr int kPort = 13;
constexpr const char* kModel = "Tamsin (APQ8064)";

// Everything written to a FILE*, read back as text.
std::string Contents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    return text;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

class CliRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/veltrix-cli-XXXXXX";
        folder_ = mkdtemp(templ);
        setenv("VELTRIX_PORTS", (folder_ / "ports").c_str(), 1);
        out_ = std::tmpfile();
        err_ = std::tmpfile();
        summary_ = std::tmpfile();
        view_ = std::make_unique<TerminalView>(out_, err_, false);

        const fs::path model = folder_ / "model" / kModel;
        // A one-record Intel-HEX programmer (4 bytes at 0x1000), its end record.
        WriteText(model / "2nd_loader.hex", ":0410000001020304E2\n:00000001FF\n");
        WriteText(model / "boot_partition_info" / "rawprogram0.xml",
                  "<?xml version=\"1.0\" ?><data><program label=\"sbl2\" start_sector=\"8\" "
                  "num_partition_sectors=\"2\" filename=\"sbl2.mbn\"/></data>");
        // partition.txt: one 80-byte record, sbl2 at sector 8, 2 sectors.
        std::string record(80, '\0');
        record[0] = 8;
        record[4] = 2;
        record.replace(16, 4, "sbl2");
        record.replace(48, 8, "sbl2.mbn");
        WriteText(folder_ / "target" / "partition.txt", record);

        command_.workDir = folder_;
        command_.comPort = std::to_string(kPort);
        command_.selections.model = kModel;
        command_.selections.apCheck = true;
        command_.selections.targetDir = (folder_ / "target").string();
        command_.selections.option = "Read/Write";
        command_.selections.level = "1";
        command_.summary = true;
        command_.summaryOut = summary_;
    }
    void TearDown() override {
        board_.reset();
        std::fclose(out_);
        std::fclose(err_);
        std::fclose(summary_);
        unsetenv("VELTRIX_PORTS");
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    void StartBoard() {
        sim::BoardOptions options;
        options.portNumber = kPort;
        options.portsFolder = folder_ / "ports";
        options.emmcSize = 16ull << 20;
        board_ = std::make_unique<sim::SimulatedBoard>(options);
        std::string error;
        ASSERT_TRUE(board_->Start(&error)) << error;
    }

    int Run() { return RunTests(command_, *view_, steps_, clock_, console_); }
    // Empties the captured outputs between cases.
    void Truncate() {
        for (std::FILE* f : {out_, err_, summary_}) {
            std::fflush(f);
            ASSERT_EQ(ftruncate(fileno(f), 0), 0);
            std::rewind(f);
        }
        view_->ClearLog();
    }

    fs::path folder_;
    DeviceSteps steps_;
    testing::FakeClock clock_;
    std::ostringstream console_;
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
    std::FILE* summary_ = nullptr;
    std::unique_ptr<TerminalView> view_;
    std::unique_ptr<sim::SimulatedBoard> board_;
    RunCommand command_;
};

TEST_F(CliRunTest, PassedApCheckExitsZeroWithSummaryAndRecord) {
    StartBoard();
    command_.record = folder_ / "records" / "board-1.json";
    fs::create_directories(command_.record.parent_path());
    EXPECT_EQ(Run(), kExitPassed);
    const std::string log = Contents(out_);
    EXPECT_EQ(log.rfind("[Tamsin (APQ8064)]\n\n======== AP CHECK START\n", 0), 0u) << log;
    EXPECT_NE(log.find("AP CHECK = pass\n======== END\n\nTest Completed !!\nElapsed Time : "),
              std::string::npos)
        << log;
    EXPECT_EQ(Contents(summary_),
              "{\"model\":\"Tamsin (APQ8064)\",\"port\":\"13\",\"ending\":\"completed\","
              "\"ap\":\"PASS\",\"emmc\":\"N/T\",\"sdram\":\"N/T\",\"pmic\":\"N/T\",\"exit\":0}\n");
    // The completed run closes and resets the board.
    EXPECT_TRUE(board_->WaitUntil([&] { return board_->resets() == 1; }, 5000));

    // The record: one document, written whole, with the run's log lines in order.
    const std::string record = ReadFile(command_.record);
    for (const char* part :
         {"\n  \"model\":\"Tamsin (APQ8064)\",\n", "\n  \"port\":\"13\",\n",
          "\"apCheck\":true,\"emmc\":false", "\n  \"ending\":\"completed\",\n",
          "\n  \"cancelled\":false,\n",
          "\n  "
          "\"results\":{\"ap\":\"PASS\",\"emmc\":\"N/T\",\"sdram\":\"N/T\",\"pmic\":\"N/T\"},\n",
          "\n  \"exit\":0,\n", "\n    \"AP CHECK = pass\\n\",\n    \"======== END\\n\",\n",
          "\n  \"dumps\":[]\n}\n"}) {
        EXPECT_NE(record.find(part), std::string::npos) << part << "\n" << record;
    }
    EXPECT_EQ(record.find("\"started\":\"20"), record.find("\"started\":\"") + 0u);
    EXPECT_NE(Contents(err_).find("run record: " + command_.record.string()), std::string::npos);
}

TEST_F(CliRunTest, FailedPmicControlCompletesTheRunButExitsAsFailed) {
    StartBoard();
    board_->InjectFault({.kind = sim::FaultKind::kWrongCode, .command = 0x26, .code = 0x0D});
    command_.selections.pmicOn = true;
    EXPECT_EQ(Run(), kExitTestFailed);
    const std::string log = Contents(out_);
    EXPECT_NE(log.find("PMIC KR0="), std::string::npos) << log;
    EXPECT_NE(log.find("FAIL to set PMIC on. 13\n======== END\n\nTest Completed !!\n"),
              std::string::npos)
        << log;
    EXPECT_NE(Contents(summary_).find("\"ending\":\"completed\",\"ap\":\"PASS\",\"emmc\":\"N/T\","
                                      "\"sdram\":\"N/T\",\"pmic\":\"FAIL\",\"exit\":1}"),
              std::string::npos)
        << Contents(summary_);
}

TEST_F(CliRunTest, ADumpIsRecordedWithItsSizeAndDigest) {
    StartBoard();
    std::vector<uint8_t> sectors(1024);
    for (size_t i = 0; i < sectors.size(); ++i)
        sectors[i] = static_cast<uint8_t>(i * 7 + 3);
    sectors[5] = 0x7E;  // an escaped byte on the wire
    ASSERT_TRUE(board_->WriteEmmc(8 * 512, sectors));
    const fs::path dumps = folder_ / "model" / kModel / "dump";
    fs::create_directories(dumps);
    command_.selections.emmcTest = true;
    command_.selections.dump = true;
    command_.selections.option = "Read only";
    command_.given.option = true;
    command_.selections.partitionLabel = "sbl2";
    command_.record = folder_ / "board.json";
    EXPECT_EQ(Run(), kExitPassed) << Contents(out_) << Contents(err_);
    EXPECT_NE(Contents(summary_).find("\"emmc\":\"PASS\""), std::string::npos);

    const fs::path dump = dumps / "sbl2.dump";
    const std::string bytes = ReadFile(dump);
    ASSERT_EQ(bytes, std::string(sectors.begin(), sectors.end()));  // what the board holds
    Sha256 sha;
    sha.Update(sectors.data(), sectors.size());
    const std::string entry = "{\"path\":" + JsonString(dump.string()) +
                              ",\"size\":1024,\"sha256\":\"" + sha.HexDigest() + "\"}";
    const std::string record = ReadFile(command_.record);
    EXPECT_NE(record.find("\n  \"dumps\":[\n    " + entry + "\n  ]\n}"), std::string::npos)
        << record;
}

TEST_F(CliRunTest, ABoardThatNeverAnswersAbortsTheRun) {
    StartBoard();
    board_->InjectFault({.kind = sim::FaultKind::kSilence, .count = 1000});
    EXPECT_EQ(Run(), kExitAborted);
    const std::string log = Contents(out_);
    EXPECT_NE(log.find("TEST aborted!!\nElapsed Time"), std::string::npos) << log;
    EXPECT_NE(Contents(summary_).find("\"ending\":\"aborted\""), std::string::npos);
    // The message box goes to standard error with the errors, not into the run log.
    EXPECT_NE(Contents(err_).find("---- message ----"), std::string::npos);
    EXPECT_EQ(log.find("---- message ----"), std::string::npos);
}

// Each refusal: its exit status, the message naming the flag, and a summary that says so.
TEST_F(CliRunTest, RefusedRunsNameTheFlagAndStillSummarise) {
    StartBoard();
    struct Case {
        const char* what;
        std::function<void(RunCommand&)> change;
        int status;
        const char* message;
    } const cases[] = {
        {"no model", [](RunCommand& c) { c.selections.model.clear(); }, kExitUsage,
         "--model is required"},
        {"misspelt model", [](RunCommand& c) { c.selections.model = "Tamsin"; }, kExitUsage,
         "--model \"Tamsin\" is not a model; the models are:\n  Amberly (MSM8926)\n  Brask ("},
        {"port text", [](RunCommand& c) { c.comPort = "COM13"; }, kExitUsage,
         "--port \"COM13\" is not a port"},
        {"dump alone", [](RunCommand& c) { c.selections.dump = true; }, kExitUsage,
         "--dump is part of the eMMC test: add --emmc"},
        {"emmc without option", [](RunCommand& c) { c.selections.emmcTest = true; }, kExitUsage,
         "--emmc needs --option"},
        {"option text",
         [](RunCommand& c) {
             c.selections.emmcTest = true;
             c.given.option = true;
             c.selections.option = "read only";
         },
         kExitUsage, "--option \"read only\" is not an option; the options are \"Read only\""},
        {"level",
         [](RunCommand& c) {
             c.selections.sdramTest = true;
             c.given.level = true;
             c.selections.level = "2";
         },
         kExitUsage, "--level \"2\" is not a level"},
        {"pmic with others",
         [](RunCommand& c) {
             c.selections.pmicOn = true;
             c.selections.emmcTest = true;
             c.given.option = true;
         },
         kExitUsage, "--pmic-on cannot be combined with --emmc"},
        {"restore with others",
         [](RunCommand& c) {
             c.selections.restoreBootImage = true;
             c.selections.pmicOn = true;
         },
         kExitUsage, "--restore cannot be combined with --pmic-on"},
        {"no target", [](RunCommand& c) { c.selections.targetDir.clear(); }, kExitNotStarted,
         "--target is required"},
        {"no index", [this](RunCommand& c) { c.selections.targetDir = folder_.string(); },
         kExitNotStarted, "no partition.txt in "},
        {"no model folder", [this](RunCommand& c) { c.workDir = folder_ / "elsewhere"; },
         kExitNotStarted, "rawprogram0.xml not found at "},
        {"no device", [](RunCommand& c) { c.comPort = "14"; }, kExitNotStarted,
         "COM 14 is /dev/ttyUSB13, which does not exist (--port"},
    };
    const RunCommand base = command_;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        command_ = base;
        c.change(command_);
        EXPECT_EQ(Run(), c.status);
        const std::string err = Contents(err_);
        EXPECT_NE(err.find(std::string("veltrix-cli: ") + c.message), std::string::npos) << err;
        EXPECT_NE(Contents(summary_).find("\"ending\":\"refused\""), std::string::npos);
        EXPECT_NE(Contents(summary_).find("\"exit\":" + std::to_string(c.status) + "}"),
                  std::string::npos);
        Truncate();
    }
    EXPECT_EQ(board_->resets(), 0);  // nothing reached the board
}

TEST_F(CliRunTest, CtrlCCancelsALongWaitAndFreesThePort) {
    StartBoard();
    // The real clock: the programmer is given 2 s to start, and Ctrl-C comes meanwhile.
    std::thread interrupter([this] {
        board_->WaitUntil(
            [&] { return Contents(out_).find("Waiting for the device") != std::string::npos; },
            5000);
        std::raise(SIGINT);
    });
    const auto start = std::chrono::steady_clock::now();
    DeviceSteps steps;
    const int status = RunTests(command_, *view_, steps, SystemClock::Instance(), console_);
    const auto took = std::chrono::steady_clock::now() - start;
    interrupter.join();
    EXPECT_EQ(status, kExitAborted);
    EXPECT_LT(took, std::chrono::milliseconds(1900));  // the 2 s wait was cut short
    EXPECT_NE(Contents(out_).find("Test cancelled by the operator\nTEST aborted!!\n"),
              std::string::npos)
        << Contents(out_) << Contents(err_);
    SerialLink link;  // the port is free at once
    EXPECT_EQ(OpenPort(link, kPort), kErrorSuccess);
}

TEST_F(CliRunTest, PortsShowsLinksTheirDevicesAndWhoHoldsThem) {
    StartBoard();
    fs::create_symlink(folder_ / "ports" / "gone", folder_ / "ports" / "COM40");
    SerialLink holder;
    ASSERT_EQ(OpenPort(holder, kPort), kErrorSuccess);
    EXPECT_EQ(ListPorts(out_), kExitPassed);
    const std::string text = Contents(out_);
    const std::string com13 = "COM13  " + (folder_ / "ports" / "COM13").string() + " -> /dev/pts/";
    EXPECT_NE(text.find(com13), std::string::npos) << text;
    EXPECT_NE(text.find(" (pid " + std::to_string(getpid()) + ")"), std::string::npos) << text;
    EXPECT_NE(text.find("COM40  " + (folder_ / "ports" / "COM40").string() + " -> " +
                        (folder_ / "ports" / "gone").string() + "  missing"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("missing (the device does not exist)"), std::string::npos) << text;
}

TEST_F(CliRunTest, ExtractionFailuresSayWhy) {
    WriteText(folder_ / "short.bin", std::string(100, 'x'));
    struct Case {
        fs::path bin;
        std::string message;
    } const cases[] = {
        {folder_ / "missing.bin",
         "cannot read " + (folder_ / "missing.bin").string() + ": No such file or directory"},
        {folder_, folder_.string() + " is a folder, not a total binary image (--bin)"},
        {folder_ / "short.bin",
         (folder_ / "short.bin").string() + " is 100 bytes, too short for the partition tables"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExtractImage(c.bin, folder_ / "out", *view_), kExitExtractFailed);
        EXPECT_NE(Contents(err_).find("veltrix-cli: " + c.message), std::string::npos)
            << Contents(err_);
        EXPECT_FALSE(fs::exists(folder_ / "out" / "partition.txt"));
        Truncate();
    }
}

}  // namespace
}  // namespace veltrix::cli
