#pragma once
// One serial connection to one board and the framed request/reply exchange over it. A run engine
// owns one link per board and binds it to the board's port when a run starts; the protocols
// above use it through this face. Results are the codes of base/result_codes.h: 0 success, 6
// port closed, 8 reply larger than the caller's buffer, or the port's code for a failed read or
// write (its reason on the link's console).

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
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

class SerialLink {
public:
    // Every wait of the link goes through `clock`; its one-line diagnostics go to `console`
    // (null: not shown). The link starts closed and bound to no port.
    explicit SerialLink(Clock& clock = SystemClock::Instance(), std::ostream* console = nullptr);
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // The port ("COM n") the link serves from now on; 0 is none. Open opens it.
    void Bind(int portNumber) { portNumber_ = portNumber; }
    int portNumber() const { return portNumber_; }

    // Opens the bound port for exclusive use and applies the time-out. An already open port is
    // closed first. 0, or the code of the failed open: kErrorFileNotFound when the port does not
    // exist (or none is bound), kErrorAccessDenied without permission, kErrorPortBusy when
    // another process holds it; the link is then closed, and device() and lastError() say which
    // device and why.
    int Open();
    // Bind, then Open.
    int Open(int portNumber);
    // Closes the port if open; what was buffered goes with it.
    void Close();
    bool IsOpen() const;

    // Applies `ms` as the total time-out of every read and write (also while the port is closed:
    // the next Open applies it).
    void SetTimeout(uint32_t ms);
    uint32_t timeout() const { return timeoutMs_; }
    // Drops what is buffered in both directions, in the port and in the link.
    void Purge();

    // One framed request/reply exchange. On entry `replyLength` is the capacity of `reply`; on
    // success it is the number of unstuffed reply bytes, the peer's two FCS bytes included.
    // After an exchange whose reply did not come in time, what the port holds is dropped before
    // the request is written (a late reply would otherwise be taken for this one's). A reply
    // time-out, a reply whose FCS is wrong, or 0x20000 bytes without a closing flag give 0 with
    // replyLength 0 (the last two with a line on the console). Failures: 6 port closed (nothing
    // written), 8 raw reply longer than the capacity (replyLength unchanged), 87 a negative
    // length or a request too large for the frame buffer, else the code of the failed write or
    // read.
    int Transact(const uint8_t* request, int requestLength, uint8_t* reply, int& replyLength);

    // The two halves of Transact, for several requests in flight. Send writes one framed request
    // (after an overdue reply, what the port holds is dropped first, as Transact does): 0, or
    // Transact's failures of the write. Receive collects the next reply frame under the time-out,
    // as Transact does after its write: 0 with replyLength 0 when none came in time or it was
    // damaged, 8 when it is longer than the capacity, or the code of the failed read.
    int Send(const uint8_t* request, int requestLength);
    int Receive(uint8_t* reply, int& replyLength);

    // Unframed I/O for the Sahara exchange. ReadRaw returns what is buffered (bytes left over
    // from an earlier reply first), waiting up to the time-out for the first byte: the number of
    // bytes read, 0 on time-out or failure (a failure also writes a line on the console).
    // WriteRaw returns 0, 6 when the port is closed, or the code of the failed write.
    int ReadRaw(uint8_t* buffer, int count);
    int WriteRaw(const uint8_t* bytes, int count);

    // Waits `ms` on the link's clock; false (at once, or within about 100 ms) once the run's
    // cancel flag is set.
    bool Wait(uint32_t ms);
    Clock& clock() const { return *clock_; }
    // The run's cancel flag (null: nothing cancels). Once it is set, a read, write or wait of the
    // link returns kErrorOperationAborted within about 100 ms.
    void WatchCancel(const std::atomic<bool>* cancel);

    // Writes one diagnostic line (or part of one) to the console.
    void WriteConsole(std::string_view text) const;
    std::ostream* console() const { return console_; }

    // The device the last Open tried, and the system's words for the port's last failure (a
    // failed open, read or write): "held by another process (Resource temporarily
    // unavailable)", "Input/output error". Kept after a close, for the diagnostics.
    const std::filesystem::path& device() const { return device_; }
    const std::string& lastError() const { return lastError_; }
    // The code of the port's failure in the last Transact, Send, Receive, ReadRaw or WriteRaw (0:
    // the port did not fail, though the reply may still have been missing or wrong):
    // kErrorDeviceNotConnected tells a port that went away from a board that did not answer.
    int lastFailure() const { return lastFailure_; }
    // The port, its device and why it failed last, for the line below a failure: "COM1
    // (/dev/ttyUSB0): no such device (No such file or directory)".
    std::string FailureText() const;

    // Makes the port Open opens (the operating system's port unless a test sets another).
    void SetPortFactory(std::function<std::unique_ptr<SerialPort>()> factory);
    // Takes `port`, open already, as the link's open port: a scripted port stands in for a
    // device in tests and fuzzing.
    void Attach(std::unique_ptr<SerialPort> port);
    // Cuts the frame buffer to `bytes`, so a test reaches its limit sooner.
    void LimitFrameBuffer(size_t bytes) { frameBuffer_.resize(bytes); }

private:
    int PortFailed(const char* what, int code);
    int CollectFrame(size_t* rawLength);
    bool ReplyIntact(std::span<const uint8_t> reply) const;

    Clock* clock_;
    std::ostream* console_;
    int portNumber_ = 0;
    std::unique_ptr<SerialPort> port_;
    std::function<std::unique_ptr<SerialPort>()> portFactory_;
    const std::atomic<bool>* cancel_ = nullptr;
    // Work area of Transact: the encoded request, then the raw reply.
    std::vector<uint8_t> frameBuffer_;
    // The total time-out last applied; Open applies it, SetTimeout changes it.
    uint32_t timeoutMs_ = kDefaultTimeoutMs;
    std::filesystem::path device_;
    std::string lastError_;
    int lastFailure_ = 0;
    // Bytes read but not yet used; what followed a reply's closing flag stays here for the next
    // Transact or ReadRaw. Purge and Close drop it.
    ReceiveBuffer received_;
    // The last exchange gave up waiting for its reply: whatever arrives late belongs to it and is
    // dropped before the next request, so an exchange only ever reads its own reply.
    bool replyOverdue_ = false;
};

}  // namespace veltrix
