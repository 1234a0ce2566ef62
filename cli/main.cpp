// veltrix-cli: the test runs and the image extraction from a terminal or a script.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "diag/device_steps.h"

int main(int argc, char** argv) {
    using namespace veltrix::cli;
    CLI::App app{"Veltrix bench tool: test runs and image extraction from the command line"};
    app.require_subcommand(1);

    RunCommand run;
    run.workDir = std::filesystem::current_path();
    run.selections.option = "Read/Write";
    run.selections.level = "1";
    std::string workDir = run.workDir.string();
    auto* runCmd = app.add_subcommand("run", "Run the selected tests on the board at COM PORT");
    auto& s = run.selections;
    runCmd->add_option("--model", s.model, "Model text, e.g. \"Corvin (MSM8974)\" (see models)");
    runCmd->add_option("--port", run.comPort, "COM port number");
    runCmd->add_option("--target", s.targetDir, "Target directory holding partition.txt");
    runCmd->add_option("--workdir", workDir, "Folder holding the model folders (default: here)");
    runCmd->add_flag("--ap-check", s.apCheck, "AP check");
    runCmd->add_flag("--emmc", s.emmcTest, "EMMC TEST");
    runCmd->add_flag("--dump", s.dump, "Read partitions into dump files");
    runCmd->add_option("--partition", s.partitionLabel, "Partition for the eMMC test");
    runCmd
        ->add_option("--option", s.option,
                     "eMMC option: \"Read only\", \"Read/Write\", \"Write only\", \"Erase\"")
        ->capture_default_str();
    runCmd->add_flag("--sdram", s.sdramTest, "SDRAM TEST");
    runCmd->add_option("--level", s.level, "SDRAM test level, 0 or 1")->capture_default_str();
    runCmd->add_flag("--pmic-on", s.pmicOn, "PMIC ON");
    runCmd->add_flag("--restore", s.restoreBootImage, "RESTORE BOOT IMG");
    runCmd->add_option("--restore-label", s.restoreLabel, "Partition to restore (empty: all)");
    runCmd->add_flag("--summary", run.summary, "Print a JSON summary line at the end");

    std::string bin, dir;
    auto* extractCmd = app.add_subcommand("extract", "Split a total binary image into DIR");
    extractCmd->add_option("--bin", bin, "Total binary image")->required();
    extractCmd->add_option("--dir", dir, "Output folder")->required();

    auto* modelsCmd = app.add_subcommand("models", "List the model texts");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitPassed : kExitUsage;
    }

    TerminalView view(stdout, stderr, isatty(STDIN_FILENO) != 0);
    if (*runCmd) {
        run.workDir = workDir;
        veltrix::DeviceSteps steps;
        return RunTests(run, view, steps, veltrix::SystemClock::Instance(), std::cout);
    }
    if (*extractCmd) {
        return ExtractImage(bin, dir, view);
    }
    if (*modelsCmd) {
        return ListModels();
    }
    return kExitUsage;
}
