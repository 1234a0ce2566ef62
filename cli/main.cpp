// veltrix-cli: the test runs and the image extraction from a terminal or a script.
#include "base/process_start.h"
#include "cli/command_line.h"

int main(int argc, char** argv) {
    veltrix::PrepareProcess();
    return veltrix::cli::RunCommandLine(argc, argv);
}
