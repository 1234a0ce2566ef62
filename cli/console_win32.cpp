// The console on Windows: GetConsoleMode tells a console from a file, a pipe or NUL; the wide
// command line gives the arguments whatever the ANSI code page; output code page UTF-8.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// shellapi.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <io.h>

#include "cli/console.h"

namespace veltrix::cli {
namespace {

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return {};
    }
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back();  // the closing zero
    return out;
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
    const intptr_t handle = _get_osfhandle(_fileno(stream));
    DWORD mode = 0;
    return handle != -1 && GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode) != 0;
}

bool WaitForEnter(std::FILE* in, const std::atomic<bool>& stop) {
    constexpr DWORD kPollMs = 100;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(in)));
    while (!stop) {
        const DWORD waited = WaitForSingleObject(handle, kPollMs);
        if (waited == WAIT_TIMEOUT) {
            continue;
        }
        INPUT_RECORD record{};
        DWORD count = 0;
        if (waited != WAIT_OBJECT_0 || !ReadConsoleInputW(handle, &record, 1, &count)) {
            return true;  // no console input to wait on
        }
        // Key presses other than Enter, and mouse, focus and size events, are passed over.
        if (count == 1 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr || count != argc) {
        if (wide != nullptr) {
            LocalFree(wide);
        }
        return std::vector<std::string>(argv, argv + argc);  // what the C runtime made of it
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        arguments.push_back(Utf8(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

Utf8Console::Utf8Console() : oldCodePage_(GetConsoleOutputCP()) {
    if (oldCodePage_ != 0 && oldCodePage_ != CP_UTF8) {
        SetConsoleOutputCP(CP_UTF8);
    }
}

Utf8Console::~Utf8Console() {
    if (oldCodePage_ != 0 && oldCodePage_ != CP_UTF8) {
        SetConsoleOutputCP(oldCodePage_);
    }
}

}  // namespace veltrix::cli
