// veltrix-cli ports: what "COM n" means on this machine.

#include <cstdio>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/port_words.h"
#include "link/port_list.h"

namespace veltrix::cli {

int ListPorts(std::FILE* out) {
    const auto ports = ListSerialPorts();
    std::fprintf(out, "%s\n", PortsHeading().c_str());
    if (ports.empty()) {
        std::fprintf(out, "%s\n", NoPortsText());
    }
    for (const PortInfo& port : ports) {
        std::fprintf(out, "COM%-3d %s\n", port.number, PortSummary(port).c_str());
    }
    std::fflush(out);
    return kExitPassed;
}

}  // namespace veltrix::cli
