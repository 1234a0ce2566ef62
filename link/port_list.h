#pragma once
// The COM ports this machine offers: the COMn links of the ports folder and the USB serial
// devices, with what sysfs tells of each and whether another process holds it.

#include <filesystem>
#include <string>
#include <vector>

namespace veltrix {

// 05c6:9008: a board whose boot ROM is in emergency-download mode.
inline constexpr const char* kDownloadModeUsbId = "05c6:9008";

struct PortInfo {
    int number = 0;                    // n of "COM n"
    std::filesystem::path device;      // what OpenPort opens for it
    std::filesystem::path target;      // the device the path resolves to; empty when it is missing
    bool fromPortsFolder = false;      // a COMn link, rather than /dev/ttyUSB<n-1>
    std::string usbId;                 // "vvvv:pppp" from sysfs, empty when not a USB device
    std::string serialNumber;          // from sysfs, when the device has one
    std::vector<std::string> holders;  // "name (pid n)" of other processes holding it open
};

// The operator picks a port from 1 to 99.
inline constexpr int kHighestPortNumber = 99;

// The ports a run could open, in COM-number order, each as OpenPort resolves its number: a COMn
// link shadows /dev/ttyUSB<n-1>; links such as "COM007" or "COM100" name no port.
std::vector<PortInfo> ListSerialPorts();

// One line on what is behind the port: its device (and where a link points), the USB
// vendor:product and serial, "board in download mode" for 05c6:9008, the processes holding it,
// or that the device is missing.
std::string PortSummary(const PortInfo& port);

}  // namespace veltrix
