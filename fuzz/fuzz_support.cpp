#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <memory>
#include <sstream>

#include "link/framing/frame_codec.h"
#include "link/serial_link.h"

namespace veltrix::fuzz {

void QueueReply(Reader& in, ScriptedPort& port, const Bytes& body) {
    const uint8_t how = in.Byte();
    if (how % 8 == 7) {
        for (int i = 0, n = 1 + (how >> 3) % 4; i < n; ++i) {
            port.chunks.push_back(in.Take(in.Byte()));
        }
        return;
    }
    Bytes wire = Framed(body);
    if ((how & 0x18) == 0x18) {  // a spoiled byte before the closing flag
        wire[wire.size() - 2] ^= static_cast<uint8_t>(1 + in.Byte() % 255);
    }
    if ((how & 0x60) == 0x60) {  // a time-out first: the frame comes too late for this request
        port.chunks.emplace_back();
    }
    if ((how & 0x60) == 0x20) {  // junk before the frame
        const Bytes junk = in.Take(in.Byte() % 8);
        wire.insert(wire.begin(), junk.begin(), junk.end());
    }
    if ((how & 0x80) == 0) {
        port.chunks.push_back(std::move(wire));
        return;
    }
    Deliver(in, port, wire);
}

void Deliver(Reader& in, ScriptedPort& port, const Bytes& bytes) {
    for (size_t at = 0, n = 0; at < bytes.size(); at += n) {
        n = std::min<size_t>(bytes.size() - at, 1 + in.Byte() % 64);
        port.chunks.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                 bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
}

namespace {

void UseScriptedPort(SerialLink& link, std::unique_ptr<ScriptedPort> port) {
    link.SetTimeout(kDefaultTimeoutMs);
    link.WatchCancel(nullptr);
    link.Attach(std::move(port));
}

SerialLink& SharedReferenceLink() {
    static SerialLink link;
    return link;
}

}  // namespace

SerialLink& ScriptedLink(std::unique_ptr<ScriptedPort> port) {
    static NoWaitClock clock;
    static std::ostringstream console;
    static SerialLink link(clock, &console);
    console.str("");
    UseScriptedPort(link, std::move(port));
    return link;
}

Bytes Framed(std::span<const uint8_t> body) {
    Bytes wire(MaxEncodedLength(body.size()));
    wire.resize(EncodeFrame(body, wire.data()));
    return wire;
}

ReferenceLink::ReferenceLink(const std::deque<Bytes>& chunks) : link_(SharedReferenceLink()) {
    auto port = std::make_unique<ScriptedPort>();
    port->chunks = chunks;
    UseScriptedPort(link_, std::move(port));
}

ReferenceLink::Exchange ReferenceLink::Next(int capacity) {
    const uint8_t request[] = {0};
    Exchange e;
    e.reply.resize(static_cast<size_t>(capacity));
    int length = capacity;
    e.code = link_.Transact(request, 1, e.reply.data(), length);
    e.reply.resize(e.code == 0 ? static_cast<size_t>(length) : 0);
    return e;
}

const std::filesystem::path& ScratchFolder() {
    static const testing::TempFolder folder(std::filesystem::is_directory("/dev/shm")
                                                ? "/dev/shm"
                                                : std::filesystem::temp_directory_path());
    return folder.path();
}

}  // namespace veltrix::fuzz
