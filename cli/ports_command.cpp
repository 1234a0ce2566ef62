// veltrix-cli ports: what "COM n" means on this machine.

#include <cstdio>
#include <string>
#include <system_error>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/port_words.h"
#include "link/port_list.h"

namespace veltrix::cli {
namespace {

std::string Describe(const PortInfo& port) {
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

}  // namespace

int ListPorts(std::FILE* out) {
    const auto ports = ListSerialPorts();
    std::fprintf(out, "%s\n", PortsHeading().c_str());
    if (ports.empty()) {
        std::fprintf(out, "%s\n", NoPortsText());
    }
    for (const PortInfo& port : ports) {
        std::fprintf(out, "COM%-3d %s\n", port.number, Describe(port).c_str());
    }
    std::fflush(out);
    return kExitPassed;
}

}  // namespace veltrix::cli
