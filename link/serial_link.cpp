#include "link/serial_link.h"

#include <algorithm>
#include <cstring>
#include <ostream>

#include "base/text_format.h"
#include "link/framing/fcs.h"
#include "link/framing/frame_codec.h"
#include "link/ports/port_names.h"

namespace veltrix {

SerialLink::SerialLink(Clock& clock, std::ostream* console)
    : clock_(&clock),
      console_(console),
      portFactory_(MakeSystemSerialPort),
      frameBuffer_(kFrameBufferSize),
      received_(kReceiveBufferSize) {}

SerialLink::~SerialLink() {
    Close();
}

void SerialLink::WriteConsole(std::string_view text) const {
    if (console_ != nullptr) {
        *console_ << text << std::flush;
    }
}

// Writes the port's reason for a failed read or write on the console and passes its code on.
int SerialLink::PortFailed(const char* what, int code) {
    lastError_ = port_->LastErrorText();
    lastFailure_ = code;
    if (code != kErrorOperationAborted) {
        WriteConsole(Format("Serial %s failed: %s\n", what, lastError_.c_str()));
    }
    return code;
}

bool SerialLink::IsOpen() const {
    return port_ && port_->IsOpen();
}

int SerialLink::Open(int portNumber) {
    Bind(portNumber);
    return Open();
}

int SerialLink::Open() {
    // A retry pass reaches here with the port of the failed pass still open: close it, or the
    // exclusive lock of the earlier handle would refuse this open.
    Close();
    lastFailure_ = 0;
    if (portNumber_ <= 0) {
        device_.clear();
        lastError_ = "no port chosen";
        return kErrorFileNotFound;
    }
    std::unique_ptr<SerialPort> port = portFactory_ ? portFactory_() : MakeSystemSerialPort();
    device_ = PortDevicePath(portNumber_);
    if (const int code = port->Open(device_); code != 0) {
        lastError_ = port->LastErrorText();
        return code;
    }
    lastError_.clear();
    port->SetTimeout(timeoutMs_);
    port->WatchCancel(cancel_);
    port_ = std::move(port);
    return kErrorSuccess;
}

std::string SerialLink::FailureText() const {
    return Format("COM%d (%s): %s", portNumber_, device_.string().c_str(), lastError_.c_str());
}

void SerialLink::Close() {
    if (port_) {
        port_->Close();
        port_.reset();
    }
    received_.Clear();
    replyOverdue_ = false;
}

void SerialLink::SetTimeout(uint32_t ms) {
    if (port_) {
        port_->SetTimeout(ms);
    }
    timeoutMs_ = ms;
}

void SerialLink::Purge() {
    if (port_) {
        port_->Purge();
    }
    received_.Clear();
    replyOverdue_ = false;
}

void SerialLink::WatchCancel(const std::atomic<bool>* cancel) {
    cancel_ = cancel;
    if (port_) {
        port_->WatchCancel(cancel);
    }
}

void SerialLink::Attach(std::unique_ptr<SerialPort> port) {
    Close();
    port->SetTimeout(timeoutMs_);
    port->WatchCancel(cancel_);
    port_ = std::move(port);
}

void SerialLink::SetPortFactory(std::function<std::unique_ptr<SerialPort>()> factory) {
    portFactory_ = std::move(factory);
}

// Collects one raw reply frame into the frame buffer from what the port delivers, reading whole
// buffered chunks rather than a byte at a time. At most the frame buffer's size is taken, as
// many bytes as the board's one-byte reads would have taken; bytes after the closing flag stay
// in `received_`. `*rawLength` is 0 after a time-out or when no closing flag came in time.
int SerialLink::CollectFrame(size_t* rawLength) {
    *rawLength = 0;
    FrameCollector collector(frameBuffer_);
    const size_t limit = frameBuffer_.size();
    size_t taken = 0;
    for (;;) {
        if (received_.Empty()) {
            const std::span<uint8_t> space = received_.Space();
            size_t got = 0;
            if (const int code = port_->Read(space.data(), space.size(), &got); code != 0) {
                return PortFailed("read", code);
            }
            if (got == 0) {
                replyOverdue_ = true;  // a reply that comes later is not the next one's
                return kErrorSuccess;  // time-out: no answer
            }
            received_.Commit(got);
        }
        std::span<const uint8_t> pending = received_.Pending();
        pending = pending.first(std::min(pending.size(), limit - taken));
        FrameCollector::Step step = FrameCollector::Step::kMore;
        const size_t used = collector.Feed(pending, &step);
        received_.Consume(used);
        taken += used;
        if (step == FrameCollector::Step::kClosed) {
            *rawLength = collector.Raw().size();
            return kErrorSuccess;
        }
        if (taken >= limit) {
            WriteConsole(Format("No frame end in %u reply bytes, reply dropped\n",
                                static_cast<unsigned>(taken)));
            return kErrorSuccess;
        }
    }
}

// A reply whose last two bytes are not the FCS of the rest is corrupt: it is dropped.
bool SerialLink::ReplyIntact(std::span<const uint8_t> reply) const {
    if (FrameFcsMatches(reply)) {
        return true;
    }
    if (reply.size() < kFcsLength) {
        WriteConsole(Format("Reply of %u bytes has no frame check, reply dropped\n",
                            static_cast<unsigned>(reply.size())));
        return false;
    }
    const size_t n = reply.size();
    const unsigned received = reply[n - 2] | (reply[n - 1] << 8);
    const unsigned computed = Fcs16(reply.first(n - kFcsLength));
    WriteConsole(Format("Reply frame check failed (FCS %04X, expected %04X), reply dropped\n",
                        received, computed));
    return false;
}

int SerialLink::Transact(const uint8_t* request, int requestLength, uint8_t* reply,
                         int& replyLength) {
    if (const int code = Send(request, requestLength); code != kErrorSuccess) {
        return code;
    }
    return Receive(reply, replyLength);
}

int SerialLink::Send(const uint8_t* request, int requestLength) {
    lastFailure_ = 0;
    if (!IsOpen()) {
        return kErrorInvalidHandle;
    }
    if (requestLength < 0 || (requestLength > 0 && request == nullptr) ||
        MaxEncodedLength(static_cast<size_t>(requestLength)) > frameBuffer_.size()) {
        return kErrorInvalidParameter;
    }
    if (replyOverdue_) {
        Purge();  // clears replyOverdue_
    }
    const size_t encoded =
        EncodeFrame({request, static_cast<size_t>(requestLength)}, frameBuffer_.data());
    if (const int code = port_->Write(frameBuffer_.data(), encoded); code != 0) {
        return PortFailed("write", code);
    }
    return kErrorSuccess;
}

int SerialLink::Receive(uint8_t* reply, int& replyLength) {
    lastFailure_ = 0;
    if (!IsOpen()) {
        return kErrorInvalidHandle;
    }
    size_t rawLength = 0;
    if (const int code = CollectFrame(&rawLength); code != 0) {
        return code;
    }
    if (rawLength == 0) {
        replyLength = 0;
        return kErrorSuccess;
    }
    // The capacity is compared with the raw length, flags and escapes included.
    const size_t capacity =
        replyLength > 0 && reply != nullptr ? static_cast<size_t>(replyLength) : 0;
    if (rawLength > capacity) {
        return kErrorNotEnoughMemory;
    }
    const size_t stored = UnstuffFrame({frameBuffer_.data(), rawLength}, reply);
    if (!ReplyIntact({reply, stored})) {
        replyLength = 0;
        return kErrorSuccess;
    }
    replyLength = static_cast<int>(stored);
    return kErrorSuccess;
}

bool SerialLink::Wait(uint32_t ms) {
    static const std::atomic<bool> kNeverCancelled{false};
    return clock_->SleepUnlessCancelled(ms, cancel_ != nullptr ? *cancel_ : kNeverCancelled);
}

int SerialLink::ReadRaw(uint8_t* buffer, int count) {
    lastFailure_ = 0;
    if (!IsOpen() || buffer == nullptr || count <= 0) {
        return 0;
    }
    if (!received_.Empty()) {
        // Bytes that followed an earlier reply come first, as they would from the port.
        const std::span<const uint8_t> pending = received_.Pending();
        const size_t n = std::min(pending.size(), static_cast<size_t>(count));
        std::memcpy(buffer, pending.data(), n);
        received_.Consume(n);
        return static_cast<int>(n);
    }
    size_t got = 0;
    if (const int code = port_->Read(buffer, static_cast<size_t>(count), &got); code != 0) {
        PortFailed("read", code);
        return 0;
    }
    return static_cast<int>(got);
}

int SerialLink::WriteRaw(const uint8_t* bytes, int count) {
    lastFailure_ = 0;
    if (!IsOpen()) {
        return kErrorInvalidHandle;
    }
    if (count < 0 || (count > 0 && bytes == nullptr)) {
        return kErrorInvalidParameter;
    }
    if (const int code = port_->Write(bytes, static_cast<size_t>(count)); code != 0) {
        return PortFailed("write", code);
    }
    return kErrorSuccess;
}

}  // namespace veltrix
