#pragma once
// The terminal the command line talks to, one file per operating system.

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace veltrix::cli {

// Whether `stream` is an interactive terminal: a console on Windows, where the C runtime's
// isatty says yes for NUL and every other character device too.
bool IsTerminal(std::FILE* stream);

// Waits until the operator presses Enter on the terminal `in` (true; also when the input ends
// or cannot be read) or `stop` is set (false, noticed within 100 ms).
bool WaitForEnter(std::FILE* in, const std::atomic<bool>& stop);

// The program's arguments in UTF-8, the encoding of every text and path inside: on Windows they
// are read again from the wide command line, as `argv` there holds the ANSI code page's bytes.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// While it stands, a console shows the UTF-8 the program writes (the Korean lines of the message
// boxes); the console's code page is put back after. Nothing to do on POSIX.
class Utf8Console {
public:
    Utf8Console();
    ~Utf8Console();
    Utf8Console(const Utf8Console&) = delete;
    Utf8Console& operator=(const Utf8Console&) = delete;

private:
    unsigned oldCodePage_ = 0;
};

}  // namespace veltrix::cli
