// veltrix-cli's run, ports and extract commands end to end: the simulated board on a real pty,
// real files, and the exit statuses, summaries and run records a production script relies on.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <string_view>
#include <thread>

#include "base/sha256.h"
#include "cli/exit_status.h"
#include "diag/run_report.h"
#include "link/serial_link.h"
#include "tests/cli/cli_board_fixture.h"

namespace veltrix::cli {
namespace {

// A passed eMMC dump: exit 0, the summary line, and the record with the selections, the log
// lines in order and the dump file with its size and digest; the board is reset at the end.
TEST_F(CliTest, PassedRunWritesItsSummaryAndRecord) {
    StartBoard();
    const testing::Bytes flash = testing::Noise(1024, 7);
    ASSERT_TRUE(board->WriteEmmc(8 * 512, flash));
    RunSelections& s = command.selections;
    s.emmcTest = s.dump = command.given.option = command.given.partition = true;
    s.option = "Read only";
    s.partitionLabel = "sbl2";
    command.record = scene.root() / "board-1.json";
    EXPECT_EQ(Run(), kExitPassed) << Out() << Err();
    EXPECT_EQ(Out().rfind("[Tamsin (APQ8064)]\n\n======== AP CHECK START\n", 0), 0u) << Out();
    EXPECT_EQ(Summary(),
              R"j({"model":"Tamsin (APQ8064)","port":"14","ending":"completed","ap":"PASS",)j"
              R"j("emmc":"PASS","sdram":"N/T","pmic":"N/T","verdict":"PASS","exit":0})j"
              "\n");
    EXPECT_TRUE(board->WaitUntil([&] { return board->resets() == 1; }, 5000));

    const fs::path dump = scene.ModelFolder(kDloadModel) / "dump" / "sbl2.dump";
    ASSERT_EQ(testing::ReadBytes(dump), flash);
    const std::string record = ReadText(command.record);
    EXPECT_TRUE(IsStrictJson(record)) << record;
    const std::string parts[] = {
        "{\n  \"model\":\"Tamsin (APQ8064)\",\n  \"port\":\"14\",\n",
        R"j(  "selections":{"apCheck":true,"emmc":true,"dump":true,"partition":"sbl2",)j"
        R"j("option":"Read only","sdram":false,"level":"1","pmicOn":false,"restore":false,)j"
        R"j("restoreLabel":"","target":")j" +
            scene.targetDir().string() + "\"},\n  \"started\":\"20",
        R"j(  "ending":"completed",
  "cancelled":false,
  "sdramNoVerdict":false,
  "bootImagesNotRestored":false,
  "partitionsToRestore":[],
  "patternLeftIn":[],
  "programmerRunning":false,
  "refusal":"",
  "verdict":"PASS",
  "abortReason":"",
  "advice":"",
  "messages":[],
  "results":{"ap":"PASS","emmc":"PASS","sdram":"N/T","pmic":"N/T"},
  "exit":0,
  "log":[
    "[Tamsin (APQ8064)]\n",
)j",
        R"j(
    "AP CHECK = pass\n",
    "======== END\n",
)j",
        // The digest of Noise(1024, 7), as sha256sum gives it.
        "\n  \"dumps\":[\n    {\"path\":\"" + dump.string() +
            "\",\"size\":1024,\"sha256\":"
            "\"a67fee97e94e0f40077efb9b96536137a8f668f1a92833173029583945b04837\"}\n  ]\n}\n",
    };
    for (const std::string& part : parts) {
        EXPECT_TRUE(Has(record, part)) << part << "\n" << record;
    }
    EXPECT_TRUE(Has(Err(), "run record: " + command.record.string()));
}

// How a run that did not pass (or passed, but left something on the board) ends: its exit
// status, what it says and where, and its summary.
TEST_F(CliTest, RunsSayHowTheyEndedAndWhatTheyLeave) {
    const struct {
        const char* name;
        std::function<void()> arrange;
        int status;
        std::string out, err, summaryTail;
    } cases[] = {
        {"record lost", [&] { command.record = scene.root() / "no such folder" / "board.json"; },
         kExitOutputLost, "AP CHECK = pass",
         "veltrix-cli: the run record cannot be written to " +
             (scene.root() / "no such folder" / "board.json").string(),
         R"j("pmic":"N/T","verdict":"PASS","exit":5})j"},
        // PMIC ON loads no partition list, so it runs without a target directory.
        {"PMIC step failed",
         [&] {
             options.faults = {{.kind = sim::FaultKind::kWrongCode, .command = 0x26, .code = 0x0D}};
             command.selections.pmicOn = true;
             command.selections.targetDir.clear();
         },
         kExitTestFailed, "FAIL to set PMIC on. 13\n======== END\n\nTest Completed !!\n", "",
         R"j("ending":"completed","ap":"PASS","emmc":"N/T","sdram":"N/T","pmic":"FAIL",)j"
         R"j("verdict":"FAIL: PMIC","exit":1})j"},
        {"DDR-level test without a verdict",
         [&] {
             scene.WriteModel(testing::kDdrModel, {"sbl2"});
             options = testing::BoardFor(scene, testing::kDdrModel);
             options.ddrVerdict = '7';
             command.selections.model = testing::kDdrModel;
             command.selections.sdramTest = true;
         },
         kExitTestFailed, "", "veltrix-cli: the SDRAM test gave no verdict",
         R"j("sdramNoVerdict":true,"verdict":"FAIL: no SDRAM verdict","exit":1})j"},
        {"write test",
         [&] {
             RunSelections& s = command.selections;
             s.emmcTest = command.given.option = command.given.partition = true;
             s.option = "Write only";
             s.partitionLabel = "sbl2";
         },
         kExitPassed,
         "Test pattern left in sbl2: run RESTORE BOOT IMG to put their images back\nTest "
         "Completed !!\n",
         "veltrix-cli: the test pattern is in sbl2: run RESTORE BOOT IMG to put their images back",
         R"j("verdict":"PASS","exit":0})j"},
    };
    const RunCommand base = command;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        command = base;
        options = testing::BoardFor(scene, kDloadModel);
        Fresh();
        c.arrange();
        StartBoard();
        EXPECT_EQ(Run(), c.status);
        EXPECT_TRUE(Has(Out(), c.out)) << Out();
        EXPECT_TRUE(Has(Err(), c.err)) << Err();
        EXPECT_TRUE(Has(Summary(), c.summaryTail)) << Summary();
    }
}

// Each refusal of veltrix-cli run: its exit status, the message naming the flag, and a summary
// and record that say so; nothing reaches the board, and an output path that is not a regular
// file is left as it was. A port is a number from 1 to 99.
TEST_F(CliTest, RefusedRunsNameTheFlagAndStillSummarise) {
    StartBoard();
    const std::string root = scene.root().string(), ports = scene.portsFolder().string();
    testing::WriteText(scene.root() / "empty" / "partition.txt", "");
    testing::WriteText(
        scene.root() / "nolist" / "model" / kDloadModel / "boot_partition_info" / "rawprogram0.xml",
        "<data><zeroout/></data>");
    ASSERT_EQ(mkfifo((root + "/fifo").c_str(), 0600), 0);
    fs::create_symlink(root + "/elsewhere.json", root + "/link.json");
    for (const char* port : {"/COM1", "/COM99"}) {  // ports accepted, with no device behind them
        fs::create_symlink(root + "/gone", ports + port);
    }
    const fs::path dump = scene.ModelFolder(kDloadModel) / "dump";
    fs::remove_all(dump);
    fs::create_symlink(root, dump);
    const struct {
        int status;
        std::string flags;  // for RunArgs
        std::string message;
    } cases[] = {
        {kExitUsage, "--model=", "--model is required"},
        {kExitUsage, "--model=Tamsin", "--model \"Tamsin\" is not a model; the models are:\n  Am"},
        {kExitUsage, "--port=", "--port is required"},
        {kExitUsage, "--port=0", "--port \"0\" is not a port: give a number 1 to 99"},
        {kExitNotStarted, "--port=1", "COM 1 is " + ports + "/COM1, which does not exist"},
        {kExitNotStarted, "--port=99", "COM 99 is " + ports + "/COM99, which does not exist"},
        {kExitUsage, "--port=100", "--port \"100\" is not a port"},
        {kExitUsage, "--port=-1", "--port \"-1\" is not a port"},
        {kExitUsage, "--port=COM14", "--port \"COM14\" is not a port"},
        {kExitUsage, "--port=014", "--port \"014\" is not a port: give a number 1 to 99 (digits"},
        {kExitUsage, "--dump", "--dump is part of the eMMC test: add --emmc"},
        {kExitUsage, "--emmc", "--emmc needs --option"},
        {kExitUsage, "--emmc;--option=read only", "--option \"read only\" is not an option; the"},
        {kExitUsage, "--option=Read only", "--option applies to the eMMC test only"},
        {kExitUsage, "--sdram;--level=2", "--level \"2\" is not a level"},
        {kExitUsage, "--level=0", "--level applies to the SDRAM test only"},
        {kExitUsage, "--emmc;--option=Read only;--pmic-on", "--pmic-on cannot be combined with"},
        {kExitUsage, "--restore;--pmic-on", "--restore cannot be combined with --pmic-on"},
        {kExitUsage, "--emmc;--option=Erase;--partition=sbl2",
         "--option \"Erase\" cannot be combined with --partition: Erase takes the whole"},
        {kExitNotStarted, "--target=", "--target is required"},
        {kExitNotStarted, "--target=" + root, "no partition.txt in "},
        {kExitNotStarted, "--target=" + root + "/empty",
         "partition.txt in " + root + "/empty lists no partitions: extract"},
        {kExitNotStarted, "--workdir=" + root, "rawprogram0.xml not found"},
        // A test over the whole program list that finds it empty would pass doing nothing.
        {kExitNotStarted, "--workdir=" + root + "/nolist;--emmc;--option=Read only",
         "rawprogram0.xml lists no partition."},
        {kExitNotStarted, "--emmc;--option=Read only;--dump",
         "the dump folder " + dump.string() + " is a symbolic link: dumps are written only"},
        {kExitUsage, "--record=" + root + "/fifo", "--record " + root + "/fifo is a FIFO: the run"},
        {kExitUsage, "--record=/dev/null", "--record /dev/null is a device"},
        {kExitUsage, "--record=" + root + "/link.json",
         "--record " + root + "/link.json is a symbolic"},
        {kExitUsage, "--record=" + root, "--record " + root + " is a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        const Lines args = RunArgs(c.flags, root + "/refused.json");
        EXPECT_EQ(Program(args, root + "/out", root + "/err", ""), c.status);
        const std::string err = ReadText(root + "/err"), summary = ReadText(root + "/out");
        EXPECT_TRUE(Has(err, "veltrix-cli: " + c.message)) << err;
        if (c.flags.find("--record") == std::string::npos) {
            // The message, as far as JSON leaves it as it is.
            const std::string plain = c.message.substr(0, c.message.find_first_of("\"\\\n"));
            EXPECT_TRUE(Has(ReadText(root + "/refused.json"), "\n  \"refusal\":\"" + plain));
        }
        EXPECT_TRUE(Has(summary, "\"ending\":\"refused\"")) << summary;
        EXPECT_TRUE(Has(summary, "\"exit\":" + std::to_string(c.status) + "}\n"));
    }
    EXPECT_TRUE(board->RequestJournal().empty());
    EXPECT_TRUE(fs::is_fifo(root + "/fifo"));
    EXPECT_TRUE(fs::is_symlink(root + "/link.json"));
    EXPECT_FALSE(fs::exists(root + "/elsewhere.json"));
}

// Ctrl-C, a closed terminal and a reader of standard output that went away all cancel the run
// within a wait, with the record marked and the port free at once.
TEST_F(CliTest, SignalsCancelALongWaitAndFreeThePort) {
    command.record = scene.root() / "cancelled.json";
    for (const int signal : {SIGINT, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(signal);
        StartBoard();
        Fresh();
        // The real clock: the programmer is given 2 s to start, and the signal comes meanwhile.
        std::thread interrupter([this, signal] {
            const std::string waiting = "Waiting for the device to connect in flash prg\n";
            board->WaitUntil(
                [&] {
                    const testing::Lines lines = view->Lines();
                    return std::find(lines.begin(), lines.end(), waiting) != lines.end();
                },
                5000);
            std::raise(signal);
        });
        const auto start = std::chrono::steady_clock::now();
        const int status = Run(SystemClock::Instance());
        const auto took = std::chrono::steady_clock::now() - start;
        interrupter.join();
        EXPECT_EQ(status, kExitAborted);
        EXPECT_LT(took, std::chrono::milliseconds(1900));  // the 2 s wait was cut short
        EXPECT_TRUE(Has(Out(), "Test cancelled by the operator\nTEST aborted!!\n")) << Out();
        EXPECT_TRUE(Has(ReadText(command.record), "\"cancelled\":true"));
        // The programmer was uploaded before the cancel: the board needs a power cycle.
        EXPECT_TRUE(Has(ReadText(command.record), "\"programmerRunning\":true"));
        EXPECT_TRUE(Has(Err(),
                        "veltrix-cli: power the board off and on in download mode before "
                        "the next run"))
            << Err();
        SerialLink link;
        EXPECT_EQ(link.Open(kBoardPort), kErrorSuccess);
    }
}

// A signal that comes once the run has ended, while its record and summary are written (here
// as the record's note goes to standard error), does not end the program with them half out:
// the signals stay caught until the summary is written.
std::atomic<bool> gProcessHandlerRan{false};
extern "C" void OnTermInTest(int) {
    gProcessHandlerRan = true;
}

ssize_t RaiseOnRecordNote(void* file, const char* data, size_t size) {
    if (std::string_view(data, size).find("run record: ") != std::string_view::npos) {
        std::raise(SIGTERM);
    }
    return static_cast<ssize_t>(std::fwrite(data, 1, size, static_cast<std::FILE*>(file)));
}

TEST_F(CliTest, SignalWhileTheRecordIsWrittenWaitsForTheSummary) {
    StartBoard();
    command.record = scene.root() / "board.json";
    struct sigaction test {
    }, saved{};
    test.sa_handler = OnTermInTest;
    sigemptyset(&test.sa_mask);
    sigaction(SIGTERM, &test, &saved);
    std::FILE* raising = fopencookie(err, "w", {nullptr, RaiseOnRecordNote, nullptr, nullptr});
    view = std::make_unique<TerminalView>(out, raising, false);
    EXPECT_EQ(Run(), kExitPassed);
    std::fclose(raising);
    sigaction(SIGTERM, &saved, nullptr);
    EXPECT_FALSE(gProcessHandlerRan);
    EXPECT_TRUE(Has(Err(), "run record: ")) << Err();
    EXPECT_TRUE(Has(ReadText(command.record), "\"verdict\":\"PASS\""));
    EXPECT_TRUE(Has(Summary(), "\"verdict\":\"PASS\",\"exit\":0}\n")) << Summary();
}

// With standard input a terminal, a message box waits for Enter; Ctrl-C closes it and ends the
// run within a second, without the Enter.
TEST_F(CliTest, CtrlCClosesAMessageBoxAndEndsTheRun) {
    StartBoard();
    board->InjectFault({.kind = sim::FaultKind::kSilence, .count = 1000});  // a message box
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    std::FILE* in = std::fopen(ptsname(terminal), "r");
    ASSERT_NE(in, nullptr);
    view = std::make_unique<TerminalView>(out, err, true, in);
    std::atomic<bool> ended{false};
    std::chrono::steady_clock::time_point signalled;
    std::thread operatorAtTheTerminal([&] {
        const fs::path errPath = scene.root() / "stderr";
        for (int i = 0; i < 500 && !Has(ReadText(errPath), "Press Enter to continue."); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        signalled = std::chrono::steady_clock::now();
        std::raise(SIGINT);
        for (int i = 0; i < 300 && !ended; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!ended) {
            (void)!write(terminal, "\n", 1);  // the run is stuck in the box: fail, not hang
        }
    });
    const int status = Run();
    const auto endedAt = std::chrono::steady_clock::now();
    ended = true;
    operatorAtTheTerminal.join();
    const auto took = endedAt - signalled;
    std::fclose(in);
    close(terminal);
    EXPECT_EQ(status, kExitAborted);
    EXPECT_LT(took, std::chrono::seconds(1));
    EXPECT_TRUE(Has(Err(), "Press Enter to continue.")) << Err();
    EXPECT_TRUE(Has(Out(), "Test cancelled by the operator\nTEST aborted!!\n")) << Out();
}

TEST_F(CliTest, PortsShowsLinksTheirDevicesAndWhoHoldsThem) {
    StartBoard();
    const fs::path ports = scene.portsFolder();
    fs::create_symlink(ports / "gone", ports / "COM40");
    // Links no run resolves: "COM 7" is COM7, and no run opens COM100.
    for (const char* name : {"COM007", "COM100"}) {
        fs::create_symlink(fs::read_symlink(board->linkPath()), ports / name);
    }
    SerialLink holder;
    ASSERT_EQ(holder.Open(kBoardPort), kErrorSuccess);
    EXPECT_EQ(ListPorts(out), kExitPassed);
    const std::string text = Out();
    EXPECT_FALSE(Has(text, "COM007")) << text;
    EXPECT_FALSE(Has(text, "COM100")) << text;
    EXPECT_TRUE(Has(text, "COM14  " + (ports / "COM14").string() + " -> /dev/pts/")) << text;
    EXPECT_TRUE(Has(text, " (pid " + std::to_string(getpid()) + ")")) << text;
    EXPECT_TRUE(Has(text, "COM40  " + (ports / "COM40").string() + " -> " +
                              (ports / "gone").string() + "  missing (the device does not exist)"))
        << text;
}

// Why a board does not take part: `doctor` finds it on its own, changing nothing (it passes only
// where a boot ROM answers), and a run's AP check ends with it on standard error (its message box
// goes there too, not into the run log). A locked port is tried as the user nobody when root runs
// the tests, as root opens any file.
TEST_F(CliTest, DoctorAndTheApCheckSayWhyABoardDoesNotTakePart) {
    using enum sim::FaultKind;
    const fs::path root = scene.root(), port = scene.portsFolder() / "COM14";
    const std::string com14 = "COM14 (" + port.string() + ")", todo = "\nWhat to do: ",
                      held = com14 + " is held by " + program_invocation_short_name + " (pid " +
                             std::to_string(getpid());
    const auto linkPortTo = [&](const fs::path& target) {
        board.reset();
        fs::remove(port);
        fs::create_symlink(target, port);
    };
    SerialLink holder;
    const struct {
        const char* name;
        std::function<void()> arrange;  // once a board in download mode is at COM14
        std::string doctorSays;         // with what to do when the board is not ready
        std::string runSays;            // on standard error; none: no run
    } cases[] = {
        {"ready", [] {}, "a boot ROM in download mode answers (DLOAD)\n", ""},
        {"Sahara",
         [&] {
             scene.WriteModel(testing::kSaharaModel, {"sbl2"});
             options = testing::BoardFor(scene, testing::kSaharaModel);
             StartBoard();
         },
         "a boot ROM in download mode greets (Sahara)\n", ""},
        {"busy", [&] { ASSERT_EQ(holder.Open(kBoardPort), kErrorSuccess); },
         held + ")" + todo + "close the program that holds the port",
         "port held by another program: " + held + "): close the program"},
        {"locked",
         [&] {
             testing::WriteText(root / "locked", "");
             fs::permissions(root / "locked", fs::perms::none);
             linkPortTo(root / "locked");
         },
         "no permission to open " + com14 + todo + "install the udev rule",
         "no permission on the port: no permission to open COM14"},
        {"no device", [&] { linkPortTo(root / "gone"); },
         "no such device: " + com14 + " is not there" + todo + "check the cable", ""},
        {"programmer left running",
         [&] {
             options.startInProgrammer = true;
             StartBoard();
         },
         "the board answers the flash programmer of an earlier run, not its boot ROM (that run was "
         "aborted)" +
             todo + "power the board off and on in download mode",
         "board still runs an aborted run's programmer: "},
        {"silent", [&] { board->InjectFault({.kind = kSilence, .count = 1000}); },
         "the board does not answer in download mode" + todo + "check the cable",
         "board not in download mode: the board does not answer"},
        // The boot ROM answers NOP, then goes silent part way through the programmer's upload.
        {"stopped answering",
         [&] { board->InjectFault({.kind = kSilence, .command = 0x0F, .skip = 2, .count = 99}); },
         "a boot ROM in download mode answers (DLOAD)\n",
         "programmer upload failed: the board stopped taking the flash programmer part way"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        options = testing::BoardFor(scene, kDloadModel);
        StartBoard();
        c.arrange();
        const bool nobody = std::string(c.name) == "locked", ready = !Has(c.doctorSays, todo);
        const std::string out = (root / "out").string(), err = (root / "err").string();
        EXPECT_EQ(Program({"doctor", "--port=14"}, out, err, "", nobody),
                  ready ? kExitPassed : kExitNotStarted);
        EXPECT_TRUE(Has(ReadText(out), c.doctorSays)) << ReadText(out) << ReadText(err);
        if (!c.runSays.empty()) {
            EXPECT_EQ(Program(RunArgs("--record=", ""), out, err, "", nobody), kExitAborted);
            EXPECT_TRUE(Has(ReadText(err), "veltrix-cli: " + c.runSays)) << ReadText(err);
            // Only the boot ROM's silence shows a message box.
            EXPECT_EQ(Has(ReadText(err), "---- message ----"), c.runSays.starts_with("board "));
            EXPECT_FALSE(Has(ReadText(out), "---- message ----"));
        }
        holder.Close();
    }
}
}  // namespace
}  // namespace veltrix::cli
