#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "cli/port_words.h"
#include "diag/model_table.h"
#include "link/clock.h"
#include "protocol/programmer_session.h"

namespace veltrix::cli {
namespace {

constexpr const char* kExitHelp =
    "Exit status: 0 the run completed and no result says FAIL; 1 the run completed and a result "
    "box or the PMIC step says FAIL, or the DDR-level test gave no verdict; 2 the run was aborted "
    "(\"TEST aborted!!\"), or Ctrl-C, SIGTERM, SIGHUP or SIGPIPE cancelled the run or the "
    "extraction, or the PC ran out of memory; 3 the run did not start (no partition.txt or one "
    "without partitions, no rawprogram0.xml, no such port, no current folder, a dump folder that "
    "is a link, or the selections were refused); 4 the "
    "image extraction did not complete; 5 all went well, but standard output or the run record "
    "could not be written (a run that did not pass keeps its own status); 64 bad command line "
    "(unknown flag, a value not in its list, a combination the dialog cannot make, an output "
    "path that is not a regular file). A station (--port with a list) exits 0 when every board "
    "passed, otherwise with the highest of the boards' statuses; a command line refused before "
    "any board is touched keeps 64 or 3.";

constexpr const char* kRunHelp =
    "Runs the ticked tests on the board at COM PORT, as the dialog's START does. The run log goes "
    "to standard output; status lines, the progress bar, message boxes and errors to standard "
    "error. Ctrl-C cancels the run (it ends as aborted within a second, port closed), and so do "
    "SIGTERM, SIGHUP and a reader of standard output that goes away.\n"
    "A list of ports (--port 3,4,7-10) makes a station: the same tests on every listed board at "
    "once, one engine per board; each run-log line is prefixed with its port (\"COM3: \"), a "
    "terminal shows a live line per board, message boxes never wait, dumps go to "
    "model/<model>/dump/COM<n>/, --record writes one station record and --summary each board's "
    "line and a station line; Ctrl-C cancels every board.\n"
    "Selections follow the dialog: --restore and --pmic-on run on their own; --dump needs "
    "--emmc and excludes --sdram; --emmc needs an explicit --option; \"Erase\" takes the whole "
    "eMMC and refuses --partition. --pmic-on needs no --target. \"Read/Write\" and \"Write "
    "only\" leave the test pattern in the first sectors of the partitions they test: --restore "
    "puts their images back (the run names them at its end).";

// A day: longer than any memory test takes, and within the waits' millisecond count.
constexpr uint32_t kMaxBoardWaitSeconds = 86400;

struct RunFlags {
    RunCommand command;
    std::string workDir;
    CLI::Option* option = nullptr;
    CLI::Option* level = nullptr;
    CLI::Option* partition = nullptr;
    CLI::Option* restoreLabel = nullptr;
    std::string record;
};

CLI::App* AddRunCommand(CLI::App& app, RunFlags& f) {
    auto* run = app.add_subcommand("run", kRunHelp);
    auto& s = f.command.selections;
    run->add_option("--model", s.model, "Model text, e.g. \"Corvin (MSM8974)\" (see `models`)");
    run->add_option("--port", f.command.comPort,
                    "COM port number, 1 to 99 (see `ports`), or a list such as 3,4,7-10 (a "
                    "station: every board at once)");
    run->add_option("--target", s.targetDir,
                    "Target directory holding partition.txt and images (not needed by --pmic-on)");
    run->add_option("--workdir", f.workDir, "Folder holding model/<model>/ (default: here)");
    run->add_flag("--ap-check", s.apCheck, "AP check (always done when --target is given)");
    run->add_flag("--emmc", s.emmcTest, "EMMC TEST (needs --option)");
    run->add_flag("--dump", s.dump, "With --emmc: read partitions into model/<model>/dump/");
    f.partition = run->add_option("--partition", s.partitionLabel,
                                  "Partition for the eMMC test (empty: every partition)");
    f.option = run->add_option("--option", s.option,
                               "eMMC option: \"Read only\", \"Read/Write\", \"Write only\" or "
                               "\"Erase\" (the last three change the board's flash)");
    run->add_flag("--sdram", s.sdramTest, "SDRAM TEST");
    f.level = run->add_option("--level", s.level, "SDRAM test level, \"0\" or \"1\" (default 1)");
    run->add_option("--board-wait", s.boardWaitSeconds,
                    "With --sdram: seconds to wait for the board to come back after the test's "
                    "reset before the run ends as aborted (default 600)")
        ->check(CLI::Range(1u, kMaxBoardWaitSeconds));
    run->add_option("--window", s.readWindow,
                    "READs a dump keeps in flight when the board's programmer takes them (probed "
                    "at the first dump of a run); 1 asks one sector per exchange (default 8)")
        ->check(CLI::Range(1, kMaxReadWindow));
    run->add_flag("--pmic-on", s.pmicOn, "PMIC status and PMIC ON");
    run->add_flag("--restore", s.restoreBootImage, "RESTORE BOOT IMG from the target directory");
    f.restoreLabel = run->add_option("--restore-label", s.restoreLabel,
                                     "Partition to restore (default: every partition)");
    run->add_flag("--summary", f.command.summary, "Print a one-line JSON summary at the end");
    run->add_option("--record", f.record,
                    "Write the run record (JSON: selections, times, ending, results, log, dump "
                    "files with SHA-256) to this file, whole or not at all; it replaces only a "
                    "regular file");
    return run;
}

// The folder the process runs in; empty when it is gone or cannot be read (the run then says so).
std::filesystem::path CurrentFolder() {
    std::error_code ec;
    std::filesystem::path here = std::filesystem::current_path(ec);
    return ec ? std::filesystem::path() : here;
}

int RunChosen(const CLI::App& app, RunFlags& run, const std::string& bin, const std::string& dir,
              const std::string& doctorPort, TerminalView& view) {
    if (app.got_subcommand("run")) {
        RunCommand& command = run.command;
        command.workDir = run.workDir.empty() ? CurrentFolder() : PathFromUtf8(run.workDir);
        command.record = PathFromUtf8(run.record);
        command.given = {run.option->count() > 0, run.level->count() > 0,
                         run.partition->count() > 0, run.restoreLabel->count() > 0};
        // A list of ports is a station; one port is a single run, as ever.
        std::string problem;
        if (const auto ports = ParsePortList(command.comPort, &problem)) {
            if (ports->size() > 1) {
                return RunStation(command, *ports, SystemClock::Instance());
            }
            command.comPort = std::to_string(ports->front());
        }
        return RunTests(command, view, SystemClock::Instance(), std::cout);
    }
    if (app.got_subcommand("extract")) {
        return ExtractImage(PathFromUtf8(bin), PathFromUtf8(dir), view);
    }
    if (app.got_subcommand("models")) {
        return ListModels();
    }
    if (app.got_subcommand("ports")) {
        return ListPorts(stdout);
    }
    if (app.got_subcommand("doctor")) {
        return Doctor(doctorPort, stdout);
    }
    return kExitUsage;
}

// Parses the command line and runs the command.
int ParseAndRun(int argc, char** argv) {
    const Utf8Console console;
    std::vector<std::string> arguments = Utf8Arguments(argc, argv);
    std::vector<char*> argumentPointers;
    for (std::string& argument : arguments) {
        argumentPointers.push_back(argument.data());
    }

    CLI::App app{"Veltrix bench tool: test runs and image extraction from the command line"};
    app.require_subcommand(1);
    app.footer(std::string(PortsHelp()) + "\n\n" + kExitHelp);

    RunFlags run;
    run.command.selections.option = "Read/Write";  // what the dialog shows; --emmc asks anyway
    run.command.selections.level = "1";
    CLI::App* runCmd = AddRunCommand(app, run);
    runCmd->footer(std::string(PortsHelp()) + "\n\n" + kExitHelp);

    std::string bin, dir;
    auto* extractCmd = app.add_subcommand(
        "extract", "Split a total binary image into one .mbn per partition and partition.txt");
    extractCmd->add_option("--bin", bin, "Total binary image")->required();
    extractCmd
        ->add_option("--dir", dir,
                     "Output folder (created files: <name>.mbn, "
                     "partition.txt)")
        ->required();
    extractCmd->footer(kExitHelp);
    app.add_subcommand("models", "List the model texts");
    auto* portsCmd = app.add_subcommand("ports", "List the COM ports and what is behind them");
    portsCmd->footer(PortsHelp());
    std::string doctorPort;
    auto* doctorCmd = app.add_subcommand(
        "doctor", "Ask the board at COM n who it is, and say what to do when it is not ready");
    doctorCmd->add_option("--port", doctorPort, "COM port number (1..99)")->required();
    doctorCmd->footer(std::string(PortsHelp()) +
                      "\n\nExit status: 0 a board in download mode answers at the port; 3 it "
                      "does not (the output says why and what to do); 64 bad command line.");

    IgnoreBrokenPipe();
    try {
        app.parse(static_cast<int>(argumentPointers.size()), argumentPointers.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitPassed : kExitUsage;
    }

    TerminalView view(stdout, stderr, IsTerminal(stdin));
    const int status = RunChosen(app, run, bin, dir, doctorPort, view);
    // Whatever the command printed must have arrived: a passed run whose log is lost is not 0.
    return view.CheckOutput() && status == kExitPassed ? kExitOutputLost : status;
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
    try {
        return ParseAndRun(argc, argv);
    } catch (const std::bad_alloc&) {
        // A run's worker ends its run as aborted and writes its record; this is what is left.
        std::fputs("veltrix-cli: the PC ran out of memory; the command was stopped\n", stderr);
        return kExitAborted;
    }
}

}  // namespace veltrix::cli
