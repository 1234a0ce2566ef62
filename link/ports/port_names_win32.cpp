// "COM n" on Windows: the Win32 device "\\.\COMn".

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "link/ports/port_names.h"

namespace veltrix {
namespace fs = std::filesystem;
namespace {

constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";
constexpr DWORD kTargetChars = 1024;

}  // namespace

fs::path PortDevicePath(int portNumber) {
    return fs::path(kDevicePrefix + (L"COM" + std::to_wstring(portNumber)));
}

bool PortDeviceExists(const fs::path& device) {
    const std::wstring path = device.wstring();
    const std::wstring prefix = kDevicePrefix;
    const std::wstring dosName =
        path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
    // The DOS device name that the serial driver registers ("COM9" -> \Device\Serial0).
    std::wstring target(kTargetChars, L'\0');
    if (QueryDosDeviceW(dosName.c_str(), target.data(), kTargetChars) != 0) {
        return true;
    }
    // A name the system lists nowhere may still open: Wine maps COM ports through the links in
    // its prefix's dosdevices folder, which only an open follows.
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return true;
    }
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

}  // namespace veltrix
