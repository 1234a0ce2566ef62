// veltrix-cli's run and extract commands end to end: the simulated board on a real pty, real
// files, and the exit statuses and summary a production script relies on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "cli/exit_status.h"
#include "diag/run_report.h"
#include "base/sha256.h"
#include "link/serial_link.h"
#include "tests/cli/cli_fixture.h"

namespace veltrix::cli {
namespace {

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

// A passed run whose record cannot be written does not exit 0, and its summary says so.
TEST_F(CliRunTest, APassedRunWhoseRecordIsLostDoesNotExitZero) {
    StartBoard();
    command_.record = folder_ / "no such folder" / "board.json";
    EXPECT_EQ(Run(), kExitOutputLost);
    EXPECT_NE(Contents(err_).find("veltrix-cli: the run record cannot be written to " +
                                  command_.record.string()),
              std::string::npos)
        << Contents(err_);
    EXPECT_NE(Contents(summary_).find("\"pmic\":\"N/T\",\"exit\":5}"), std::string::npos);
}

// PMIC ON loads no partition list, so it runs without a target directory.
TEST_F(CliRunTest, PmicOnNeedsNoTargetAndItsFailureExitsAsFailed) {
    StartBoard();
    board_->InjectFault({.kind = sim::FaultKind::kWrongCode, .command = 0x26, .code = 0x0D});
    command_.selections.pmicOn = true;
    command_.selections.targetDir.clear();
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

// A DDR-level test whose board answers neither pass nor fail has not passed, and says so.
TEST_F(CliRunTest, ADdrLevelTestWithoutAVerdictSaysWhyItDidNotPass) {
    const std::string model = "Amberly (MSM8926)";  // SDRAM test through the DDR-debug image
    const fs::path image = folder_ / "model" / model / "ddr_debug.mbn";
    WriteText(image, std::string(24576, 'D'));
    fs::copy(folder_ / "model" / kModel, folder_ / "model" / model, fs::copy_options::recursive);
    StartBoard([&](sim::BoardOptions& o) {
        o.loaderFamily = 0;
        o.ddrImagePath = image;
        o.ddrVerdict = '7';
    });
    command_.selections.model = model;
    command_.selections.sdramTest = true;
    EXPECT_EQ(Run(), kExitTestFailed) << Contents(out_) << Contents(err_);
    EXPECT_NE(Contents(err_).find("veltrix-cli: the DDR-level test gave no verdict"),
              std::string::npos);
    EXPECT_NE(Contents(summary_).find(
                  "\"sdram\":\"N/T\",\"pmic\":\"N/T\",\"sdramNoVerdict\":true,\"exit\":1}"),
              std::string::npos)
        << Contents(summary_);
}

// Bytes outside UTF-8 become the Latin-1 characters they would be, so the JSON always parses.
TEST(JsonStringTest, KeepsUtf8AndEscapesEveryOtherByte) {
    const std::pair<std::string, std::string> cases[] = {
        {"t\xff", "\"t\\u00ff\""},
        {"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
        {"\xc3", "\"\\u00c3\""},                                   // cut short
        {"\xc0\xaf", "\"\\u00c0\\u00af\""},                        // overlong
        {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},             // a surrogate
        {"\xf4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},  // beyond U+10FFFF
        {"\x80\"\\\n\x01", "\"\\u0080\\\"\\\\\\n\\u0001\""},
    };
    for (const auto& [text, json] : cases) {
        EXPECT_EQ(JsonString(text), json);
    }
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

// Each refusal: its exit status, the message naming the flag, and a summary and record that say
// so; an output path that is not a regular file is left as it was.
TEST_F(CliRunTest, RefusedRunsNameTheFlagAndStillSummarise) {
    StartBoard();
    WriteText(folder_ / "empty" / "partition.txt", "");
    ASSERT_EQ(mkfifo((folder_ / "fifo").c_str(), 0600), 0);
    fs::create_symlink(folder_ / "elsewhere.json", folder_ / "link.json");
    const auto record = [](const fs::path& path) {
        return [=](RunCommand& c) { c.record = path; };
    };
    struct Case {
        const char* what;
        std::function<void(RunCommand&)> change;
        int status;
        std::string message;
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
        {"erase one partition",
         [](RunCommand& c) {
             c.selections.emmcTest = c.given.option = c.given.partition = true;
             c.selections.option = "Erase";
         },
         kExitUsage,
         "--option \"Erase\" cannot be combined with --partition: Erase takes the whole"},
        {"record on a FIFO", record(folder_ / "fifo"), kExitUsage,
         "--record " + (folder_ / "fifo").string() + " is a FIFO: the run record replaces only"},
        {"record on a device", record("/dev/null"), kExitUsage, "--record /dev/null is a device"},
        {"record on a link", record(folder_ / "link.json"), kExitUsage,
         "--record " + (folder_ / "link.json").string() + " is a symbolic link"},
        {"record on a folder", record(folder_), kExitUsage,
         "--record " + folder_.string() + " is a folder"},
        {"empty index",
         [this](RunCommand& c) { c.selections.targetDir = (folder_ / "empty").string(); },
         kExitNotStarted,
         "partition.txt in " + (folder_ / "empty").string() + " lists no partitions: extract"},
        {"no current folder", [](RunCommand& c) { c.workDir.clear(); }, kExitNotStarted,
         "the current folder is gone or cannot be read: give --workdir"},
    };
    RunCommand base = command_;
    base.record = folder_ / "refused.json";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        command_ = base;
        c.change(command_);
        EXPECT_EQ(Run(), c.status);
        const std::string err = Contents(err_);
        EXPECT_NE(err.find("veltrix-cli: " + c.message), std::string::npos) << err;
        if (command_.record == base.record) {
            const std::string refusal = JsonString(c.message);
            EXPECT_NE(ReadFile(base.record).find(refusal.substr(1, refusal.size() - 2)),
                      std::string::npos);
        }
        EXPECT_NE(Contents(summary_).find("\"ending\":\"refused\""), std::string::npos);
        EXPECT_NE(Contents(summary_).find("\"exit\":" + std::to_string(c.status) + "}"),
                  std::string::npos);
        Truncate();
    }
    EXPECT_EQ(board_->resets(), 0);  // nothing reached the board
    EXPECT_TRUE(fs::is_fifo(folder_ / "fifo"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_TRUE(fs::is_symlink(folder_ / "link.json"));
    EXPECT_FALSE(fs::exists(folder_ / "elsewhere.json"));
}

// Ctrl-C, a closed terminal and a reader of standard output that went away all cancel the run.
TEST_F(CliRunTest, CtrlCCancelsALongWaitAndFreesThePort) {
    command_.record = folder_ / "cancelled.json";
    for (const int signal : {SIGINT, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(signal);
        StartBoard();
        // The real clock: the programmer is given 2 s to start, and the signal comes meanwhile.
        std::thread interrupter([this, signal] {
            board_->WaitUntil(
                [&] { return Contents(out_).find("Waiting for the device") != std::string::npos; },
                5000);
            std::raise(signal);
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
        EXPECT_NE(ReadFile(command_.record).find("\"cancelled\":true"), std::string::npos);
        SerialLink link;  // the port is free at once
        EXPECT_EQ(OpenPort(link, kPort), kErrorSuccess);
        Truncate();
    }
}

TEST_F(CliRunTest, PortsShowsLinksTheirDevicesAndWhoHoldsThem) {
    StartBoard();
    fs::create_symlink(folder_ / "ports" / "gone", folder_ / "ports" / "COM40");
    // Links no run resolves: "COM 7" is COM7, and no run opens COM100.
    for (const char* name : {"COM007", "COM100"}) {
        fs::create_symlink(fs::read_symlink(board_->linkPath()), folder_ / "ports" / name);
    }
    SerialLink holder;
    ASSERT_EQ(OpenPort(holder, kPort), kErrorSuccess);
    EXPECT_EQ(ListPorts(out_), kExitPassed);
    const std::string text = Contents(out_);
    EXPECT_EQ(text.find("COM007"), std::string::npos) << text;
    EXPECT_EQ(text.find("COM100"), std::string::npos) << text;
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
    fs::create_directories(folder_ / "piped");
    ASSERT_EQ(mkfifo((folder_ / "piped" / "partition.txt").c_str(), 0600), 0);
    struct Case {
        fs::path bin;
        std::string message;
        fs::path dir = "out";
    } const cases[] = {
        {folder_ / "missing.bin",
         "cannot read " + (folder_ / "missing.bin").string() + ": No such file or directory"},
        {folder_, folder_.string() + " is a folder, not a total binary image (--bin)"},
        {folder_ / "short.bin",
         (folder_ / "short.bin").string() + " is 100 bytes, too short for the partition tables"},
        {folder_ / "short.bin",
         (folder_ / "piped" / "partition.txt").string() +
             " is a FIFO: the extraction replaces only a regular file (--dir)",
         "piped"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExtractImage(c.bin, folder_ / c.dir, *view_), kExitExtractFailed);
        EXPECT_NE(Contents(err_).find("veltrix-cli: " + c.message), std::string::npos)
            << Contents(err_);
        EXPECT_FALSE(fs::is_regular_file(folder_ / c.dir / "partition.txt"));
        Truncate();
    }
    EXPECT_TRUE(fs::is_fifo(folder_ / "piped" / "partition.txt"));
}

}  // namespace
}  // namespace veltrix::cli
