// The terminal on POSIX: arguments and output are UTF-8 already.

#include <unistd.h>

#include "cli/console.h"

namespace veltrix::cli {

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

Utf8Console::Utf8Console() = default;
Utf8Console::~Utf8Console() = default;

}  // namespace veltrix::cli
