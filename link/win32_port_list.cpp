// The COM ports on Windows: every port the serial drivers registered (the SERIALCOMM device
// map), and from SetupAPI the USB vendor:product and serial number of the Plug and Play ones.
// Nothing is opened, so listing the ports disturbs no board.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// windows.h first, then initguid.h, so devguid.h defines the Ports class GUID in this file.
// clang-format off
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
// clang-format on

#include <cwctype>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "link/port_list.h"
#include "link/ports/port_names.h"

namespace veltrix {
namespace {

constexpr DWORD kNameChars = 256;

// The number after "COM" in `name` ("COM12" -> 12), or -1.
int ComNumber(std::wstring_view name) {
    constexpr std::wstring_view kPrefix = L"COM";
    if (name.size() <= kPrefix.size() || name.size() > kPrefix.size() + 3 ||
        name.substr(0, kPrefix.size()) != kPrefix) {
        return -1;
    }
    int value = 0;
    for (const wchar_t c : name.substr(kPrefix.size())) {
        if (c < L'0' || c > L'9') {
            return -1;
        }
        value = value * 10 + (c - L'0');
    }
    return value;
}

std::string Utf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

PortInfo& Entry(std::map<int, PortInfo>& ports, int number) {
    PortInfo& info = ports[number];
    info.number = number;
    info.device = PortDevicePath(number);
    info.target = info.device;  // listed by the system: it is there
    return info;
}

// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: one value per port, "\Device\Serial0" = "COM1".
void AddRegisteredPorts(std::map<int, PortInfo>& ports) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[kNameChars];
        DWORD nameChars = kNameChars;
        wchar_t data[kNameChars] = {};
        DWORD dataBytes = sizeof data - sizeof(wchar_t);  // room for the closing zero
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, i, name, &nameChars, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataBytes);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result == ERROR_SUCCESS && type == REG_SZ) {
            if (const int n = ComNumber(data); n > 0) {
                Entry(ports, n);
            }
        }
    }
    RegCloseKey(key);
}

std::wstring DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[kNameChars * 4] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(text),
                                           sizeof text - sizeof(wchar_t), nullptr)) {
        return {};
    }
    return text;  // the first string of a multi-string list
}

// The four hexadecimal digits after `tag` ("VID_05C6") in a hardware id, in lower case.
std::string IdAfter(std::wstring_view id, std::wstring_view tag) {
    const size_t at = id.find(tag);
    if (at == std::wstring_view::npos || id.size() < at + tag.size() + 4) {
        return {};
    }
    std::string digits;
    for (const wchar_t c : id.substr(at + tag.size(), 4)) {
        if (!std::iswxdigit(c)) {
            return {};
        }
        digits += static_cast<char>(std::towlower(c));
    }
    return digits;
}

// "USB\VID_05C6&PID_9008&REV_0000" -> usb id "05c6:9008"; the instance id
// "USB\VID_05C6&PID_9008\<serial>" ends with the serial number when the device has one (one the
// system made up holds an '&').
void ReadUsbIds(HDEVINFO set, SP_DEVINFO_DATA& device, PortInfo& info) {
    const std::wstring hardwareId = DeviceProperty(set, device, SPDRP_HARDWAREID);
    const std::string vendor = IdAfter(hardwareId, L"VID_");
    const std::string product = IdAfter(hardwareId, L"PID_");
    if (vendor.empty() || product.empty()) {
        return;
    }
    info.usbId = vendor + ":" + product;
    wchar_t instance[kNameChars * 2] = {};
    if (SetupDiGetDeviceInstanceIdW(set, &device, instance, kNameChars * 2, nullptr)) {
        const std::wstring_view id = instance;
        const size_t slash = id.find_last_of(L'\\');
        const std::wstring_view last = slash == std::wstring_view::npos ? id : id.substr(slash + 1);
        if (!last.empty() && last.find(L'&') == std::wstring_view::npos) {
            info.serialNumber = Utf8(last);
        }
    }
}

// The present devices of the Ports class, each with its "PortName" value.
void AddPlugAndPlayPorts(std::map<int, PortInfo>& ports) {
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) {
            continue;
        }
        wchar_t name[kNameChars] = {};
        DWORD bytes = sizeof name - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                             reinterpret_cast<BYTE*>(name), &bytes);
        RegCloseKey(key);
        const int n = result == ERROR_SUCCESS && type == REG_SZ ? ComNumber(name) : -1;
        if (n > 0) {
            ReadUsbIds(set, device, Entry(ports, n));
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

std::vector<PortInfo> ListSerialPorts() {
    std::map<int, PortInfo> ports;
    AddRegisteredPorts(ports);
    AddPlugAndPlayPorts(ports);
    std::vector<PortInfo> list;
    for (auto& [n, info] : ports) {
        if (n <= kHighestPortNumber) {  // the operator picks a port from 1 to 99
            list.push_back(std::move(info));
        }
    }
    return list;
}

}  // namespace veltrix
