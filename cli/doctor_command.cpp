// veltrix-cli doctor: what is behind "COM n", and whether a board in download mode answers there.

#include <cstdio>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/selections.h"
#include "diag/port_doctor.h"
#include "link/port_list.h"
#include "link/serial_link.h"

namespace veltrix::cli {

int Doctor(const std::string& portText, std::FILE* out) {
    const int port = PortNumberOf(portText);
    if (port == 0) {
        std::fprintf(stderr, "veltrix-cli: --port %s is no port from 1 to %d\n", portText.c_str(),
                     kHighestPort);
        return kExitUsage;
    }
    for (const PortInfo& info : ListSerialPorts()) {
        if (info.number == port) {
            std::fprintf(out, "COM%d: %s\n", port, PortSummary(info).c_str());
        }
    }
    SerialLink link;
    PortFinding finding;
    if (const int opened = link.Open(port); opened != kErrorSuccess) {
        finding = ExplainOpenFailure(link, opened);
    } else {
        finding = ProbeBoard(link);
        link.Close();
    }
    std::fprintf(out, "%s\n", finding.what.c_str());
    if (!finding.todo.empty()) {
        std::fprintf(out, "What to do: %s\n", finding.todo.c_str());
    }
    std::fflush(out);
    return finding.downloadMode ? kExitPassed : kExitNotStarted;
}

}  // namespace veltrix::cli
