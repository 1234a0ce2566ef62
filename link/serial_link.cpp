#include "link/serial_link.h"

#include <algorithm>
#include <cstring>
#include <ostream>

#include "base/text_format.h"
#include "link/framing/fcs.h"
#include "link/framing/frame_codec.h"
#include "link/framing/port_names.h"

namespace veltrix {
namespace {

void Diagnose(SerialLink& link, const std::string& line) {
    if (link.console) {
        *link.console << line << std::flush;
    }
}

// Writes the port's reason for a failed read or write on the console and passes its code on.
int PortFailed(SerialLink& link, const char* what, int code) {
    link.lastError = link.handle->LastErrorText();
    link.lastFailure = code;
    if (code != kErrorOperationAborted) {
        Diagnose(link, Format("Serial %s failed: %s\n", what, link.lastError.c_str()));
    }
    return code;
}

// Collects one raw reply frame into frameBuffer from what the port delivers, reading whole
// buffered chunks rather than a byte at a time. At most kFrameBufferSize bytes are taken, as
// many as the board's one-byte reads would have taken; bytes after the closing flag stay in
// `received`. `*rawLength` is 0 after a time-out or when no closing flag came in time.
int CollectFrame(SerialLink& link, size_t* rawLength) {
    *rawLength = 0;
    FrameCollector collector(link.frameBuffer);
    const size_t limit = link.frameBuffer.size();
    size_t taken = 0;
    for (;;) {
        if (link.received.Empty()) {
            const std::span<uint8_t> space = link.received.Space();
            size_t got = 0;
            if (const int code = link.handle->Read(space.data(), space.size(), &got); code != 0) {
                return PortFailed(link, "read", code);
            }
            if (got == 0) {
                link.replyOverdue = true;  // a reply that comes later is not the next one's
                return kErrorSuccess;      // time-out: no answer
            }
            link.received.Commit(got);
        }
        std::span<const uint8_t> pending = link.received.Pending();
        pending = pending.first(std::min(pending.size(), limit - taken));
        FrameCollector::Step step = FrameCollector::Step::kMore;
        const size_t used = collector.Feed(pending, &step);
        link.received.Consume(used);
        taken += used;
        if (step == FrameCollector::Step::kClosed) {
            *rawLength = collector.Raw().size();
            return kErrorSuccess;
        }
        if (taken >= limit) {
            Diagnose(link, Format("No frame end in %u reply bytes, reply dropped\n",
                                  static_cast<unsigned>(taken)));
            return kErrorSuccess;
        }
    }
}

// A reply whose last two bytes are not the FCS of the rest is corrupt: it is dropped.
bool ReplyIntact(SerialLink& link, std::span<const uint8_t> reply) {
    if (FrameFcsMatches(reply)) {
        return true;
    }
    if (reply.size() < kFcsLength) {
        Diagnose(link, Format("Reply of %u bytes has no frame check, reply dropped\n",
                              static_cast<unsigned>(reply.size())));
        return false;
    }
    const size_t n = reply.size();
    const unsigned received = reply[n - 2] | (reply[n - 1] << 8);
    const unsigned computed = Fcs16(reply.first(n - kFcsLength));
    Diagnose(link, Format("Reply frame check failed (FCS %04X, expected %04X), reply dropped\n",
                          received, computed));
    return false;
}

}  // namespace

SerialLink::SerialLink()
    : frameBuffer(kFrameBufferSize),
      console(nullptr),
      clock(&SystemClock::Instance()),
      received(kReceiveBufferSize),
      portFactory(MakeSystemSerialPort) {}

SerialLink::~SerialLink() {
    ClosePort(*this);
}

bool PortIsOpen(const SerialLink& link) {
    return link.handle && link.handle->IsOpen();
}

int OpenPort(SerialLink& link, int portNumber) {
    // A retry pass reaches here with the port of the failed pass still open: close it, or the
    // exclusive lock of the earlier handle would refuse this open.
    ClosePort(link);
    link.lastFailure = 0;
    std::unique_ptr<SerialPort> port =
        link.portFactory ? link.portFactory() : MakeSystemSerialPort();
    link.portNumber = portNumber;
    link.device = PortDevicePath(portNumber);
    if (const int code = port->Open(link.device); code != 0) {
        link.lastError = port->LastErrorText();
        return code;
    }
    link.lastError.clear();
    port->SetTimeout(link.timeoutMs);
    port->WatchCancel(link.cancel);
    link.handle = std::move(port);
    return kErrorSuccess;
}

std::string PortFailureText(const SerialLink& link) {
    return Format("COM%d (%s): %s", link.portNumber, link.device.string().c_str(),
                  link.lastError.c_str());
}

int ClosePort(SerialLink& link) {
    if (link.handle) {
        link.handle->Close();
        link.handle.reset();
    }
    link.received.Clear();
    link.replyOverdue = false;
    return kErrorSuccess;
}

void SetLinkTimeout(SerialLink& link, uint32_t ms) {
    if (link.handle) {
        link.handle->SetTimeout(ms);
    }
    link.timeoutMs = ms;
}

void PurgePort(SerialLink& link) {
    if (link.handle) {
        link.handle->Purge();
    }
    link.received.Clear();
    link.replyOverdue = false;
}

int Transact(const uint8_t* request, int requestLength, SerialLink& link, uint8_t* reply,
             int& replyLength) {
    link.lastFailure = 0;
    if (!PortIsOpen(link)) {
        return kErrorInvalidHandle;
    }
    if (requestLength < 0 || (requestLength > 0 && request == nullptr) ||
        MaxEncodedLength(static_cast<size_t>(requestLength)) > link.frameBuffer.size()) {
        return kErrorInvalidParameter;
    }
    if (link.replyOverdue) {
        PurgePort(link);  // clears replyOverdue
    }
    const size_t encoded =
        EncodeFrame({request, static_cast<size_t>(requestLength)}, link.frameBuffer.data());
    if (const int code = link.handle->Write(link.frameBuffer.data(), encoded); code != 0) {
        return PortFailed(link, "write", code);
    }
    size_t rawLength = 0;
    if (const int code = CollectFrame(link, &rawLength); code != 0) {
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
    const size_t stored = UnstuffFrame({link.frameBuffer.data(), rawLength}, reply);
    if (!ReplyIntact(link, {reply, stored})) {
        replyLength = 0;
        return kErrorSuccess;
    }
    replyLength = static_cast<int>(stored);
    return kErrorSuccess;
}

bool LinkWait(SerialLink& link, uint32_t ms) {
    static const std::atomic<bool> kNeverCancelled{false};
    return link.clock->SleepUnlessCancelled(ms, link.cancel ? *link.cancel : kNeverCancelled);
}

int ReadRaw(SerialLink& link, uint8_t* buffer, int count) {
    link.lastFailure = 0;
    if (!PortIsOpen(link) || buffer == nullptr || count <= 0) {
        return 0;
    }
    if (!link.received.Empty()) {
        // Bytes that followed an earlier reply come first, as they would from the port.
        const std::span<const uint8_t> pending = link.received.Pending();
        const size_t n = std::min(pending.size(), static_cast<size_t>(count));
        std::memcpy(buffer, pending.data(), n);
        link.received.Consume(n);
        return static_cast<int>(n);
    }
    size_t got = 0;
    if (const int code = link.handle->Read(buffer, static_cast<size_t>(count), &got); code != 0) {
        PortFailed(link, "read", code);
        return 0;
    }
    return static_cast<int>(got);
}

int WriteRaw(SerialLink& link, const uint8_t* bytes, int count) {
    link.lastFailure = 0;
    if (!PortIsOpen(link)) {
        return kErrorInvalidHandle;
    }
    if (count < 0 || (count > 0 && bytes == nullptr)) {
        return kErrorInvalidParameter;
    }
    if (const int code = link.handle->Write(bytes, static_cast<size_t>(count)); code != 0) {
        return PortFailed(link, "write", code);
    }
    return kErrorSuccess;
}

}  // namespace veltrix
