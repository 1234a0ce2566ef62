// The GET PHYSICAL PARTITION INFO reply into GetPhysicalPartitionInfo. The input chooses the
// board's reply (mostly code 0x24, four bytes, the sector count and what follows, now and then
// with another code or cut short, else raw bytes). Checks: the request on the wire is the fixed
// 38-byte request (its inner CRC 0x1CB2 low byte first); the result is the u32 at reply offsets
// 5-8 sign-extended exactly when the reply is answered with 0x24 and holds the count, else 6.

#include <memory>

#include "base/byte_order.h"
#include "fuzz/fuzz_support.h"
#include "link/serial_link.h"
#include "protocol/streaming.h"

namespace veltrix::fuzz {
namespace {

constexpr int kReplyCapacity = 128;
constexpr size_t kCountOffset = 5;

Bytes InfoAnswer(Reader& in) {
    const uint8_t spoil = in.Byte();
    Bytes body = in.Take(9);
    body.resize(9);
    body[0] = spoil % 16 == 1 ? body[0] : 0x24;
    const Bytes more = in.Take(spoil % 16 == 2 ? in.Byte() : spoil % 4);
    body.insert(body.end(), more.begin(), more.end());
    if (spoil % 16 == 3) {
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
    auto owned = std::make_unique<ScriptedPort>();
    ScriptedPort& port = *owned;
    QueueReply(in, port, InfoAnswer(in));
    ReferenceLink reference(port.chunks);

    SerialLink& link = ScriptedLink(std::move(owned));
    ProgrammerSession session{&link, true};
    const int64_t total = GetPhysicalPartitionInfo(session);

    Bytes request(38, 0);
    request[0] = 0x23;
    request[34] = 0xAD;
    request[35] = 0xDE;
    request[36] = 0xB2;
    request[37] = 0x1C;
    FUZZ_CHECK(port.written == Framed(request));
    const ReferenceLink::Exchange e = reference.Next(kReplyCapacity);
    const bool answered =
        e.code == 0 && e.reply.size() >= kCountOffset + 4 + 2 && e.reply[0] == 0x24;
    const int64_t expected =
        answered ? static_cast<int32_t>(GetLe32(e.reply.data() + kCountOffset)) : 6;
    FUZZ_CHECK(total == expected);
    return 0;
}
