// Port numbers on Windows: the COM ports as Device Manager shows them.

#include "cli/port_words.h"

namespace veltrix::cli {

const char* PortsHelp() {
    return "\"COM n\": on Windows, port n is the COM port of that number (\\\\.\\COMn), as Device "
           "Manager shows it under \"Ports (COM & LPT)\". A board in download mode shows there as "
           "a USB serial port (USB 05c6:9008) once its driver is installed; its COM number can be "
           "changed in the port's Properties, Port Settings, Advanced. `veltrix-cli ports` lists "
           "the ports.";
}

std::string PortsHeading() {
    return "COM ports known to Windows:";
}

const char* NoPortsText() {
    return "No COM ports: Windows knows none. A board in download mode gets one when the driver "
           "of its USB serial port (05c6:9008) is installed.";
}

}  // namespace veltrix::cli
