#include "diag/port_doctor.h"

#include <algorithm>
#include <array>

#include "base/byte_order.h"
#include "base/text_format.h"
#include "link/port_list.h"
#include "link/serial_link.h"
#include "protocol/dload.h"
#include "protocol/sahara.h"
#include "protocol/streaming.h"

namespace veltrix {
namespace {

constexpr const char* kModemManagerAdvice =
    "keep ModemManager off the board: install the udev rule packaging/60-veltrix.rules into "
    "/etc/udev/rules.d/ (it tells ModemManager to leave 05c6:9008 alone), or stop it with "
    "'sudo systemctl stop ModemManager'";
constexpr const char* kPermissionAdvice =
    "install the udev rule packaging/60-veltrix.rules into /etc/udev/rules.d/ and run 'sudo "
    "udevadm control --reload && sudo udevadm trigger', or join the dialout group ('sudo usermod "
    "-aG dialout $USER', then log in again)";
constexpr const char* kNotInDownloadModeAdvice =
    "check the cable, then put the board in download mode (power it off, hold the download key "
    "or short the download test point, power it on); 'veltrix-cli ports' lists a board in "
    "download mode as usb 05c6:9008";
constexpr const char* kProgrammerLeftAdvice =
    "power the board off and on in download mode, then start again";

std::string PortName(const SerialLink& link) {
    return Format("COM%d (%s)", link.portNumber(), link.device().string().c_str());
}

// The processes the port listing finds holding the port, "name (pid n), ...".
std::string Holders(const SerialLink& link) {
    for (const PortInfo& port : ListSerialPorts()) {
        if (port.number != link.portNumber()) {
            continue;
        }
        std::string names;
        for (const std::string& holder : port.holders) {
            names += (names.empty() ? "" : ", ") + holder;
        }
        return names;
    }
    return {};
}

// A Sahara boot ROM greets with HELLO as soon as the port is open.
bool SaharaGreets(SerialLink& link) {
    std::array<uint8_t, kSaharaHelloLength> packet{};
    const int got = link.ReadRaw(packet.data(), static_cast<int>(packet.size()));
    return got >= 8 && GetLe32(packet.data()) == kSaharaHello;
}

}  // namespace

PortFinding ExplainOpenFailure(const SerialLink& link, int code) {
    PortFinding finding;
    const std::string port = PortName(link);
    switch (code) {
        case kErrorPortBusy: {
            const std::string holders = Holders(link);
            finding.reason = "port held by another program";
            finding.what = port + " is held by " +
                           (holders.empty() ? std::string("another process") : holders);
            const bool modemManager = holders.find("ModemManager") != std::string::npos;
            finding.todo = modemManager ? kModemManagerAdvice
                                        : "close the program that holds the port, then start "
                                          "again; if it is ModemManager, " +
                                              std::string(kModemManagerAdvice);
            break;
        }
        case kErrorAccessDenied:
            finding.reason = "no permission on the port";
            finding.what = "no permission to open " + port;
            finding.todo = kPermissionAdvice;
            break;
        case kErrorFileNotFound:
            finding.reason = "no such port";
            finding.what = "no such device: " + port + " is not there";
            finding.todo = kNotInDownloadModeAdvice;
            break;
        default:
            finding.reason = "port cannot be opened";
            finding.what = port + " cannot be opened: " + link.lastError();
            finding.todo = "check the cable and the port number ('veltrix-cli ports')";
            break;
    }
    return finding;
}

PortFinding ExplainSilentBootRom(SerialLink& link) {
    ProgrammerSession session;
    session.link = &link;
    if (ProbeProgrammer(session) == kErrorSuccess) {
        return {false, "board still runs an aborted run's programmer",
                "the board answers the flash programmer of an earlier run, not its boot ROM "
                "(that run was aborted)",
                kProgrammerLeftAdvice};
    }
    return {false, "board not in download mode", "the board does not answer in download mode",
            kNotInDownloadModeAdvice};
}

PortFinding ProbeBoard(SerialLink& link) {
    if (SaharaGreets(link)) {
        return {true, "", "a boot ROM in download mode greets (Sahara)", ""};
    }
    ProgrammerSession session;
    session.link = &link;
    if (DloadNop(session) == kErrorSuccess) {
        return {true, "", "a boot ROM in download mode answers (DLOAD)", ""};
    }
    return ExplainSilentBootRom(link);
}

}  // namespace veltrix
