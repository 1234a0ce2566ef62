// veltrix-cli: the test runs and the image extraction from a terminal or a script.
#include "cli/command_line.h"

int main(int argc, char** argv) {
    return veltrix::cli::RunCommandLine(argc, argv);
}
