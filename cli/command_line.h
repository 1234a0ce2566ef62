#pragma once
// veltrix-cli's command line: the commands, their flags and their help.

namespace veltrix::cli {

// Parses the command line and runs the command; returns the process's exit status.
int RunCommandLine(int argc, char** argv);

}  // namespace veltrix::cli
