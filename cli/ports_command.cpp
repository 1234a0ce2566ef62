// veltrix-cli ports: what "COM n" means on this machine.

#include <algorithm>
#include <cstdio>
#include <string>
#include <system_error>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/port_words.h"
#include "cli/selections.h"
#include "link/framing/port_names.h"
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

// COM1..COM99 exactly as a run resolves them (PortDevicePath): a link "COM007" or "COM100" is no
// port of any run, and where the listing took such a link for port n, the path a run opens for n
// is listed instead (without the USB details the listing would have found).
std::vector<PortInfo> RunnablePorts() {
    std::vector<PortInfo> listed = ListSerialPorts();
    std::vector<PortInfo> ports;
    for (int n = 1; n <= kHighestPort; ++n) {
        const std::filesystem::path device = PortDevicePath(n);
        const auto it = std::find_if(listed.begin(), listed.end(),
                                     [n](const PortInfo& p) { return p.number == n; });
        std::error_code ec;
        if (it != listed.end() && it->device == device) {
            ports.push_back(std::move(*it));
        } else if (std::filesystem::exists(std::filesystem::symlink_status(device, ec))) {
            PortInfo port;
            port.number = n;
            port.device = device;
            port.target = std::filesystem::canonical(device, ec);
            port.fromPortsFolder = device.parent_path() == PortsFolder();
            ports.push_back(std::move(port));
        }
    }
    return ports;
}

}  // namespace

int ListPorts(std::FILE* out) {
    const auto ports = RunnablePorts();
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
