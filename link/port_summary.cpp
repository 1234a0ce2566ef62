// The one line `veltrix-cli ports` and the window's port list show for a port.
#include <system_error>

#include "link/port_list.h"

namespace veltrix {

std::string PortSummary(const PortInfo& port) {
    std::string text = port.device.string();
    if (port.target.empty()) {
        std::error_code ec;
        const std::filesystem::path pointsTo = std::filesystem::read_symlink(port.device, ec);
        if (!ec) {
            text += " -> " + pointsTo.string();
        }
        return text + "  missing (the device does not exist)";
    }
    if (port.target != port.device) {
        text += " -> " + port.target.string();
    }
    if (!port.usbId.empty()) {
        text += "  usb " + port.usbId;
        if (!port.serialNumber.empty()) {
            text += " serial " + port.serialNumber;
        }
        if (port.usbId == kDownloadModeUsbId) {
            text += "  board in download mode";
        }
    }
    for (const std::string& holder : port.holders) {
        text += "  held by " + holder;
    }
    return text;
}

}  // namespace veltrix
