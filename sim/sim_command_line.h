#pragma once
// The command line of veltrix-sim, turned into board options.

#include <optional>
#include <string>

#include "sim/board_options.h"

namespace veltrix::sim {

struct SimCommandLine {
    BoardOptions options;
    bool quiet = false;
};

// Parses the arguments. On --help, or on an error, returns nothing and sets `exitCode` (0 for
// help) and `message` (the help text or the error with a hint) for the program to print.
std::optional<SimCommandLine> ParseSimCommandLine(int argc, const char* const* argv, int* exitCode,
                                                  std::string* message);

// "4096", "0x1000", "64K", "16M", "4G" (powers of 1024). Nothing on a malformed size.
std::optional<uint64_t> ParseByteSize(const std::string& text);

}  // namespace veltrix::sim
