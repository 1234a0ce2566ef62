// The DDR-debug image's reply into RunDdrTest's outcome. The input chooses the packet and the
// image's reply (mostly a short text with '0', '1' or another byte at index 3, else raw bytes).
// Checks: the packet goes out framed as it is; a failed exchange gives 6 and leaves the outcome
// as it was; otherwise 0 with the outcome by the rule: the byte at index 3 of the reply body
// (the reply less its two frame-check bytes) is '0' FAIL (0) or '1' PASS (1), and anything else,
// a body shorter than 4 bytes or no reply at all, is 99; the link is back at 1000 ms afterwards.

#include <memory>

#include "fuzz/fuzz_support.h"
#include "link/framing/frame_codec.h"
#include "link/serial_link.h"
#include "protocol/streaming.h"

namespace veltrix::fuzz {
namespace {

constexpr int kReplyCapacity = 1000;
constexpr int kUntouched = -12345;

Bytes DdrAnswer(Reader& in) {
    const uint8_t shape = in.Byte();
    Bytes body = in.Take(shape % 12);
    if (body.size() > 3 && (shape & 0x10)) {
        body[3] = (shape & 0x20) ? '1' : '0';
    }
    return body;
}

}  // namespace
}  // namespace veltrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veltrix;
    using namespace veltrix::fuzz;
    Reader in(data, size);
    const Bytes packet = in.Take(in.Byte() % 4);
    auto owned = std::make_unique<ScriptedPort>();
    ScriptedPort& port = *owned;
    QueueReply(in, port, DdrAnswer(in));
    ReferenceLink reference(port.chunks);

    SerialLink& link = ScriptedLink(std::move(owned));
    ProgrammerSession session{&link, false};
    int outcome = kUntouched;
    const int rc = RunDdrTest(outcome, session, packet.data(), static_cast<int>(packet.size()));

    FUZZ_CHECK(port.written == Framed(packet));
    FUZZ_CHECK(link.timeout() == kDefaultTimeoutMs);
    const ReferenceLink::Exchange e = reference.Next(kReplyCapacity);
    if (e.code != 0) {
        FUZZ_CHECK(rc == kErrorInvalidHandle && outcome == kUntouched);
        return 0;
    }
    FUZZ_CHECK(rc == kErrorSuccess);
    const size_t bodyLength = e.reply.size() >= kFcsLength ? e.reply.size() - kFcsLength : 0;
    const int verdict = bodyLength > 3 ? e.reply[3] : -1;
    const int expected = verdict == '0'   ? kDdrOutcomeFail
                         : verdict == '1' ? kDdrOutcomePass
                                          : kDdrOutcomeUnknown;
    FUZZ_CHECK(outcome == expected);
    return 0;
}
