// The COM ports on Linux: the ports folder's COMn links, /dev/ttyUSB*, sysfs for the USB ids,
// and /proc for the processes that hold a port open. Nothing is opened, so listing the ports
// disturbs no board.

#ifndef _WIN32

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>
#include <string_view>
#include <system_error>

#include "link/port_list.h"
#include "link/ports/port_names.h"

namespace veltrix {
namespace {

namespace fs = std::filesystem;

// The number after `prefix` in `name` ("COM12" → 12), or -1.
int NumberAfter(std::string_view name, std::string_view prefix) {
    if (name.substr(0, prefix.size()) != prefix || name.size() == prefix.size()) {
        return -1;
    }
    int value = -1;
    const char* end = name.data() + name.size();
    const auto [at, error] = std::from_chars(name.data() + prefix.size(), end, value);
    return error == std::errc() && at == end ? value : -1;
}

std::string FirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// Walks up from the tty's device folder to the USB device that carries the ids.
void ReadUsbIds(const fs::path& ttyDevice, PortInfo& info) {
    std::error_code ec;
    fs::path dir = fs::canonical(fs::path("/sys/class/tty") / ttyDevice.filename() / "device", ec);
    for (; !ec && !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", ec)) {
            info.usbId = FirstLine(dir / "idVendor") + ":" + FirstLine(dir / "idProduct");
            info.serialNumber = FirstLine(dir / "serial");
            return;
        }
    }
}

// Every open file of every process we may look at, by the device it resolves to.
std::multimap<fs::path, std::string> OpenDevices() {
    std::multimap<fs::path, std::string> open;
    std::error_code ec;
    for (const auto& proc : fs::directory_iterator("/proc", ec)) {
        const std::string pid = proc.path().filename().string();
        if (NumberAfter(pid, "") < 0) {
            continue;
        }
        const std::string holder = FirstLine(proc.path() / "comm") + " (pid " + pid + ")";
        std::error_code fdError;
        for (const auto& fd : fs::directory_iterator(proc.path() / "fd", fdError)) {
            std::error_code linkError;
            const fs::path target = fs::read_symlink(fd.path(), linkError);
            if (!linkError && target.string().rfind("/dev/", 0) == 0) {
                open.emplace(target, holder);
            }
        }
    }
    return open;
}

void Describe(PortInfo& info, const std::multimap<fs::path, std::string>& open) {
    std::error_code ec;
    info.target = fs::canonical(info.device, ec);
    if (ec) {
        info.target.clear();
        return;
    }
    ReadUsbIds(info.target, info);
    const auto [first, last] = open.equal_range(info.target);
    for (auto it = first; it != last; ++it) {
        if (std::find(info.holders.begin(), info.holders.end(), it->second) == info.holders.end()) {
            info.holders.push_back(it->second);
        }
    }
}

}  // namespace

std::vector<PortInfo> ListSerialPorts() {
    std::map<int, PortInfo> ports;
    std::error_code ec;
    // Only what a run would open: port n is exactly the link COMn (COM7, never COM007), else
    // /dev/ttyUSB<n-1>, for n from 1 to 99.
    for (const auto& entry : fs::directory_iterator(PortsFolder(), ec)) {
        const std::string name = entry.path().filename().string();
        const int n = NumberAfter(name, "COM");
        if (n > 0 && n <= kHighestPortNumber && name == "COM" + std::to_string(n) &&
            fs::is_symlink(entry.symlink_status(ec))) {
            ports[n] = PortInfo{n, entry.path(), {}, true, {}, {}, {}};
        }
    }
    for (const auto& entry : fs::directory_iterator("/dev", ec)) {
        const std::string name = entry.path().filename().string();
        const int k = NumberAfter(name, "ttyUSB");
        if (k >= 0 && k < kHighestPortNumber && name == "ttyUSB" + std::to_string(k) &&
            ports.count(k + 1) == 0) {
            ports[k + 1] = PortInfo{k + 1, entry.path(), {}, false, {}, {}, {}};
        }
    }
    const auto open = OpenDevices();
    std::vector<PortInfo> list;
    for (auto& [n, info] : ports) {
        Describe(info, open);
        list.push_back(std::move(info));
    }
    return list;
}

}  // namespace veltrix

#endif  // !_WIN32
