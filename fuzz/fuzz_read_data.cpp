// READ replies into ReadData. The input chooses the length and address asked for and the board's
// reply (mostly a READ answer with the code, address or data length now and then wrong, else raw
// bytes). Checks: the request on the wire is the framed READ; a length above 1000 sends nothing;
// the reply is accepted exactly when its code is 0x04, it echoes the address asked for and it
// carries exactly the bytes asked for (a tiny reference over what Transact gives); an accepted
// reply is copied whole and nothing more, a refused one writes nothing to the caller's buffer;
// the link is back at 1000 ms afterwards.

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/byte_order.h"
#include "fuzz/fuzz_support.h"
#include "link/framing/frame_codec.h"
#include "link/serial_link.h"
#include "protocol/streaming.h"

namespace veltrix::fuzz {
namespace {

constexpr uint8_t kCanary = 0xA5;
constexpr size_t kDataOffset = 5;
constexpr int kReadRawCapacity = static_cast<int>(MaxEncodedLength(kReadReplyCapacity));

// A READ answer for `address` and `length`, spoiled as the input says.
Bytes ReadAnswer(Reader& in, uint32_t address, int length) {
    const uint8_t spoil = in.Byte();
    const uint8_t code = spoil % 16 == 1 ? in.Byte() : 0x04;
    const uint32_t echoed = spoil % 16 == 2 ? address + in.Byte() - 128 : address;
    int dataLength = length;
    if (spoil % 16 == 3) {
        dataLength = std::max(0, length + static_cast<int8_t>(in.Byte()));
    }
    Bytes body(kDataOffset);
    body[0] = code;
    PutLe32(body.data() + 1, echoed);
    Bytes data = in.Take(static_cast<size_t>(dataLength));
    data.resize(static_cast<size_t>(dataLength));
    body.insert(body.end(), data.begin(), data.end());
    if (spoil % 16 == 4) {
        body.resize(in.Byte() % (body.size() + 1));
    }
    return body;
}

}  // namespace
}  // namespace veltrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veltrix;
    using namespace veltrix::fuzz;
    Reader in(data, size);
    const int length = in.U16() % 1100;  // now and then above the limit of 1000
    const uint32_t address = in.U32();
    auto owned = std::make_unique<ScriptedPort>();
    ScriptedPort& port = *owned;
    QueueReply(in, port, ReadAnswer(in, address, std::min(length, 1000)));
    ReferenceLink reference(port.chunks);

    SerialLink& link = ScriptedLink(std::move(owned));
    ProgrammerSession session{&link, true};
    // Exactly the caller's 1024 bytes on the heap, so a write past them is a sanitizer report.
    auto out = std::make_unique<uint8_t[]>(kReadReplyCapacity);
    std::memset(out.get(), kCanary, kReadReplyCapacity);
    const int rc = ReadData(length, out.get(), session, address);
    const auto untouchedFrom = [&](size_t from) {
        return std::all_of(out.get() + from, out.get() + kReadReplyCapacity,
                           [](uint8_t b) { return b == kCanary; });
    };
    FUZZ_CHECK(link.timeout() == kDefaultTimeoutMs);
    if (length > 1000) {
        FUZZ_CHECK(rc == kErrorInvalidHandle && port.written.empty() && untouchedFrom(0));
        return 0;
    }
    Bytes request(7);
    request[0] = 0x03;
    PutLe32(request.data() + 1, address);
    request[5] = static_cast<uint8_t>(length);
    request[6] = static_cast<uint8_t>(length >> 8);
    FUZZ_CHECK(port.written == Framed(request));

    const ReferenceLink::Exchange e = reference.Next(kReadRawCapacity);
    const Bytes& reply = e.reply;
    const bool accepted = e.code == 0 &&
                          reply.size() == kDataOffset + static_cast<size_t>(length) + kFcsLength &&
                          reply[0] == 0x04 && GetLe32(reply.data() + 1) == address;
    FUZZ_CHECK(rc == (accepted ? kErrorSuccess : kErrorInvalidHandle));
    if (accepted) {
        FUZZ_CHECK(std::equal(reply.begin(), reply.end(), out.get()));
        FUZZ_CHECK(untouchedFrom(reply.size()));
    } else {
        FUZZ_CHECK(untouchedFrom(0));
    }
    return 0;
}
