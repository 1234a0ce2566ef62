// veltrix-cli's run and extract commands end to end: the simulated board on a real pty, real
// files, and the exit statuses and summary a production script relies on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "diag/device_steps.h"
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

TEST_F(CliRunTest, PassedApCheckExitsZeroWithSummary) {
    StartBoard();
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
              std::string::npos);
}

TEST_F(CliRunTest, AbsentBoardAbortsTheRun) {
    EXPECT_EQ(Run(), kExitAborted);
    const std::string log = Contents(out_);
    EXPECT_NE(log.find("Serial port open FAILED..\nTEST aborted!!\nElapsed Time"),
              std::string::npos)
        << log;
    EXPECT_NE(Contents(summary_).find("\"ending\":\"aborted\""), std::string::npos);
    // The link's diagnostics reach the sink the caller gave.
    EXPECT_EQ(console_.str(), "");
}

TEST_F(CliRunTest, RefusedSelectionsDoNotStartARun) {
    command_.selections.model.clear();
    EXPECT_EQ(Run(), kExitNotStarted);
    EXPECT_NE(Contents(out_).find("Please select Model Name."), std::string::npos);

    command_.selections.targetDir = (folder_ / "nowhere").string();
    EXPECT_EQ(Run(), kExitNotStarted);
    EXPECT_NE(Contents(out_).find("partition.txt does not exist."), std::string::npos);
    // Every outcome has its summary line, refused runs included.
    const std::string refused =
        "{\"model\":\"\",\"port\":\"13\",\"ending\":\"refused\",\"ap\":\"N/T\","
        "\"emmc\":\"N/T\",\"sdram\":\"N/T\",\"pmic\":\"N/T\",\"exit\":3}\n";
    EXPECT_EQ(Contents(summary_), refused + refused);
}

TEST_F(CliRunTest, ExtractionOfAMissingImageFails) {
    EXPECT_EQ(ExtractImage(folder_ / "missing.bin", folder_ / "out", *view_), kExitExtractFailed);
    EXPECT_NE(Contents(out_).find("Filename not found"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder_ / "out" / "partition.txt"));
}

}  // namespace
}  // namespace veltrix::cli
