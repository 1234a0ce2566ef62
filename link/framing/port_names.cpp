#include "link/framing/port_names.h"

#include <cstdlib>
#include <string>
#include <system_error>

namespace veltrix {
namespace fs = std::filesystem;

fs::path PortsFolder() {
    if (const char* dir = std::getenv("VELTRIX_PORTS"); dir && *dir) {
        return fs::path(dir);
    }
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) {
        return fs::path(run) / "veltrix" / "ports";
    }
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local" / "state" / "veltrix" / "ports";
}

fs::path PortDevicePath(int portNumber) {
#ifdef _WIN32
    // The Win32 device name of the port: "\\.\COM%i".
    return fs::path(L"\\\\.\\COM" + std::to_wstring(portNumber));
#else
    const fs::path link = PortsFolder() / ("COM" + std::to_string(portNumber));
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(link, ec))) {
        return link;
    }
    return fs::path("/dev/ttyUSB" + std::to_string(portNumber - 1));
#endif
}

}  // namespace veltrix
