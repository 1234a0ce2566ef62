#pragma once
// The one serial connection of the process and the framed request/reply exchange over it.
// Results are the codes of base/result_codes.h: 0 success, 6 port closed, 8 reply larger than the
// caller's buffer, or the port's code for a failed read or write (its reason on `console`).

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "base/result_codes.h"
#include "link/clock.h"
#include "link/receive_buffer.h"
#include "link/serial_port.h"

namespace veltrix {

inline constexpr size_t kFrameBufferSize = 0x20000;
// What one read from the port may bring in at most.
inline constexpr size_t kReceiveBufferSize = 0x10000;
inline constexpr uint32_t kDefaultTimeoutMs = 1000;

struct SerialLink {
    SerialLink();
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // The port ("handle"); closed until OpenPort succeeds.
    std::unique_ptr<SerialPort> handle;
    // Work area of Transact: the encoded request, then the raw reply.
    std::vector<uint8_t> frameBuffer;
    // The total time-out last applied; OpenPort applies it, SetLinkTimeout changes it.
    uint32_t timeoutMs = kDefaultTimeoutMs;
    // The port OpenPort was last asked for, and the device it tried; kept after a close, so the
    // port can be reopened and named in a diagnostic.
    int portNumber = 0;
    std::filesystem::path device;
    // The system's words for the port's last failure (a failed open, read or write): "held by
    // another process (Resource temporarily unavailable)", "Input/output error".
    std::string lastError;
    // The code of the port's failure in the last Transact, ReadRaw or WriteRaw (0: the port did
    // not fail, though the reply may still have been missing or wrong): kErrorDeviceNotConnected
    // tells a port that went away from a board that did not answer.
    int lastFailure = 0;

    // Where the link and the protocols above it write their one-line diagnostics; the owner of
    // the link wires it (the front end shows it on standard output). Null: not shown.
    std::ostream* console;
    // Every protocol wait goes through this clock.
    Clock* clock;

    // Bytes read but not yet used; what followed a reply's closing flag stays here for the next
    // Transact or ReadRaw. PurgePort and ClosePort drop it.
    ReceiveBuffer received;
    // The last exchange gave up waiting for its reply: whatever arrives late belongs to it and is
    // dropped before the next request, so an exchange only ever reads its own reply.
    bool replyOverdue = false;
    // Makes the port OpenPort opens; the operating system's port unless a test sets another.
    std::function<std::unique_ptr<SerialPort>()> portFactory;
    // The run's cancel flag, owned by whoever runs the link (null: nothing cancels). Once it is
    // set, a read, write or wait of the link returns kErrorOperationAborted within about 100 ms.
    const std::atomic<bool>* cancel = nullptr;
};

bool PortIsOpen(const SerialLink& link);

// Opens "COM n" (see port_names.h) for exclusive use and applies timeoutMs. An already open
// port is closed first. 0, or the code of the failed open: kErrorFileNotFound when the port does
// not exist, kErrorAccessDenied without permission, kErrorPortBusy when another process holds
// it; the link is then closed, and `device` and `lastError` say which device and why.
int OpenPort(SerialLink& link, int portNumber);
// The port, its device and why it failed last, for the line below a failure: "COM1
// (/dev/ttyUSB0): no such device (No such file or directory)".
std::string PortFailureText(const SerialLink& link);
// Closes the port if open; always 0.
int ClosePort(SerialLink& link);
// Applies `ms` as the total time-out of every read and write, and stores it in timeoutMs (also
// while the port is closed: the next OpenPort applies it).
void SetLinkTimeout(SerialLink& link, uint32_t ms);
// Drops what is buffered in both directions, in the port and in the link.
void PurgePort(SerialLink& link);

// One framed request/reply exchange. On entry `replyLength` is the capacity of `reply`; on
// success it is the number of unstuffed reply bytes, the peer's two FCS bytes included. After an
// exchange whose reply did not come in time, what the port holds is dropped before the request
// is written (a late reply would otherwise be taken for this one's). A reply time-out, a reply
// whose FCS is wrong, or 0x20000 bytes without a closing flag give 0 with replyLength 0 (the last
// two with a line on `console`). Failures: 6 port closed (nothing written), 8 raw reply longer than
// the capacity (replyLength unchanged), 87 a negative length or a request too large for the frame
// buffer, else the code of the failed write or read.
int Transact(const uint8_t* request, int requestLength, SerialLink& link, uint8_t* reply,
             int& replyLength);

// Waits `ms` on the link's clock; false (at once, or within about 100 ms) once the link's cancel
// flag is set.
bool LinkWait(SerialLink& link, uint32_t ms);

// Unframed I/O for the Sahara exchange. ReadRaw returns what is buffered (bytes left over from
// an earlier reply first), waiting up to the time-out for the first byte: the number of bytes
// read, 0 on time-out or failure (a failure also writes a line on `console`). WriteRaw returns
// 0, 6 when the port is closed, or the code of the failed write.
int ReadRaw(SerialLink& link, uint8_t* buffer, int count);
int WriteRaw(SerialLink& link, const uint8_t* bytes, int count);

}  // namespace veltrix
