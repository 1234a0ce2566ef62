#pragma once
// Where "COM n" lives on POSIX: the device the link COMn in the ports folder points to, else
// /dev/ttyUSB<n-1>. The simulated board creates its link in the same folder.

#include <filesystem>

namespace veltrix {

// $VELTRIX_PORTS, else $XDG_RUNTIME_DIR/veltrix/ports, else ~/.local/state/veltrix/ports.
std::filesystem::path PortsFolder();

// The path to open for port n: PortsFolder()/COMn when that link exists, else /dev/ttyUSB<n-1>
// (on Windows "\\.\COMn").
std::filesystem::path PortDevicePath(int portNumber);

// Whether the device of PortDevicePath is there to be opened. On POSIX the device (a link's
// target) exists; on Windows, where a COM port is no file, the system knows its name or it opens
// (a port another program holds counts as there: the open then says it is busy).
bool PortDeviceExists(const std::filesystem::path& device);

}  // namespace veltrix
