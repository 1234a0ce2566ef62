// Port numbers on Linux: the ports folder's COMn links, else /dev/ttyUSB<n-1>.

#include "cli/port_words.h"
#include "link/ports/port_names.h"

namespace veltrix::cli {

const char* PortsHelp() {
    return "\"COM n\": on Linux, port n is the device that the link COMn in the ports folder "
           "points to ($VELTRIX_PORTS, else $XDG_RUNTIME_DIR/veltrix/ports, else "
           "~/.local/state/veltrix/ports), and /dev/ttyUSB<n-1> when there is no such link. "
           "`veltrix-cli ports` lists them.";
}

std::string PortsHeading() {
    return "Ports folder: " + PortsFolder().string();
}

const char* NoPortsText() {
    return "No COM ports: no COMn links in the ports folder and no /dev/ttyUSB*.";
}

}  // namespace veltrix::cli
