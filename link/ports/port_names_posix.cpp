// "COM n" on POSIX: the ports folder's COMn link, else the n-th USB serial device.

#include <string>
#include <system_error>

#include "link/ports/port_names.h"

namespace veltrix {
namespace fs = std::filesystem;

fs::path PortDevicePath(int portNumber) {
    const fs::path link = PortsFolder() / ("COM" + std::to_string(portNumber));
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(link, ec))) {
        return link;
    }
    return fs::path("/dev/ttyUSB" + std::to_string(portNumber - 1));
}

bool PortDeviceExists(const fs::path& device) {
    std::error_code ec;
    return fs::exists(device, ec);
}

}  // namespace veltrix
