// The start of every program on Windows: a standard stream the program was started without (no
// console, a closed handle) is opened on NUL, so writes to it go nowhere instead of into a file
// opened later. Windows has no file-size signal.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>

#include "base/process_start.h"

namespace veltrix {

void PrepareProcess() {
    const struct {
        std::FILE* stream;
        DWORD handle;
        const char* mode;
    } streams[] = {{stdin, STD_INPUT_HANDLE, "r"},
                   {stdout, STD_OUTPUT_HANDLE, "w"},
                   {stderr, STD_ERROR_HANDLE, "w"}};
    for (const auto& s : streams) {
        const HANDLE handle = GetStdHandle(s.handle);
        if (_fileno(s.stream) < 0 || handle == nullptr || handle == INVALID_HANDLE_VALUE) {
            (void)!std::freopen("NUL", s.mode, s.stream);
        }
    }
}

}  // namespace veltrix
