#pragma once
// The one serial connection of the process and the framed request/reply exchange over it.
// Results are system error codes: 0 success, 6 port closed, 8 reply larger than the caller's
// buffer, otherwise the code of the failed system call passed through.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <vector>

#include "link/clock.h"
#include "link/serial_port.h"

namespace veltrix {

inline constexpr int kErrorSuccess = 0;
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorInvalidHandle = 6;
inline constexpr int kErrorNotEnoughMemory = 8;
inline constexpr int kErrorNotReady = 21;
inline constexpr int kErrorWriteFault = 29;
inline constexpr int kErrorReadFault = 30;
inline constexpr int kErrorGenFailure = 31;
inline constexpr int kErrorHandleEof = 38;
inline constexpr int kErrorOpenFailed = 110;

inline constexpr size_t kFrameBufferSize = 0x20000;
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

    // Where the link and the protocols above it write their one-line diagnostics (stdout).
    std::ostream* console;
    // Every protocol wait goes through this clock.
    Clock* clock;
};

// Opens "COM n" (see port_names.h). An already open port is closed first.
int OpenPort(SerialLink& link, int portNumber);
// Closes the port if open; always 0.
int ClosePort(SerialLink& link);
void SetLinkTimeout(SerialLink& link, uint32_t ms);
void PurgePort(SerialLink& link);

// One framed request/reply exchange. On entry `replyLength` is the capacity of `reply`; on
// success it is the number of unstuffed reply bytes, the peer's two FCS bytes included. A reply
// time-out, or a reply whose FCS is wrong, gives 0 with replyLength 0.
int Transact(const uint8_t* request, int requestLength, SerialLink& link, uint8_t* reply,
             int& replyLength);

// Unframed I/O for the Sahara exchange. ReadRaw returns the number of bytes read (0 on time-out
// or failure); WriteRaw returns 0 or a system error code.
int ReadRaw(SerialLink& link, uint8_t* buffer, int count);
int WriteRaw(SerialLink& link, const uint8_t* bytes, int count);

}  // namespace veltrix
