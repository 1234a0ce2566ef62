// The frame codec and the link's reply collection. The input chooses a request, a frame buffer
// size, reply capacities and what the port delivers (chunks, time-outs). Checks: the request on
// the wire decodes back to itself; every exchange gives what the board link gives when it reads
// one byte per call (the byte-at-a-time model), in the same order.

#include <memory>
#include <sstream>

#include "fuzz/fuzz_support.h"
#include "link/framing/fcs.h"
#include "link/framing/frame_codec.h"
#include "link/serial_link.h"
#include "tests/support/transact_model.h"

namespace veltrix::fuzz {
namespace {

using testing::ModelOutcome;
using testing::ModelTransact;

// The request, sent through the codec, collected and unstuffed again, is itself.
void CheckRoundTrip(const Bytes& body) {
    Bytes wire(MaxEncodedLength(body.size()));
    wire.resize(EncodeFrame(body, wire.data()));
    FUZZ_CHECK(wire.size() >= body.size() + 4 && wire.front() == kFrameFlag &&
               wire.back() == kFrameFlag);
    Bytes storage(wire.size());
    FrameCollector collector(storage);
    FrameCollector::Step step = FrameCollector::Step::kMore;
    FUZZ_CHECK(collector.Feed(wire, &step) == wire.size());
    FUZZ_CHECK(step == FrameCollector::Step::kClosed);
    Bytes unstuffed(wire.size());
    unstuffed.resize(UnstuffFrame(collector.Raw(), unstuffed.data()));
    FUZZ_CHECK(unstuffed.size() == body.size() + kFcsLength);
    FUZZ_CHECK(std::equal(body.begin(), body.end(), unstuffed.begin()));
    FUZZ_CHECK(FrameFcsMatches(unstuffed));
}

}  // namespace
}  // namespace veltrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veltrix;
    using namespace veltrix::fuzz;
    Reader in(data, size);
    const Bytes request = in.Take(in.Byte());
    CheckRoundTrip(request);
    const size_t limit = 8 + in.Byte() % 120;  // a small frame buffer reaches its end often
    Bytes capacities = in.Take(8);

    // The rest: chunks, each a length byte and that many bytes; length 0 is a time-out.
    auto port = std::make_unique<ScriptedPort>();
    std::vector<int> stream;  // as one-byte reads see it: -1 where a read came back empty
    while (!in.Empty()) {
        const Bytes chunk = in.Take(in.Byte());
        port->chunks.push_back(chunk);
        if (chunk.empty()) {
            stream.push_back(-1);
        }
        stream.insert(stream.end(), chunk.begin(), chunk.end());
    }
    ScriptedPort& wire = *port;
    std::ostringstream console;
    SerialLink link(SystemClock::Instance(), &console);
    link.LimitFrameBuffer(limit);
    link.Attach(std::move(port));

    size_t at = 0;
    for (size_t exchange = 0; exchange < 64 && at < stream.size(); ++exchange) {
        const size_t capacity =
            capacities.empty() ? limit : capacities[exchange % capacities.size()];
        const ModelOutcome expected = ModelTransact(stream, at, capacity, limit);
        Bytes reply(capacity);
        int length = static_cast<int>(capacity);
        const size_t writtenBefore = wire.written.size();
        const int code =
            link.Transact(request.data(), static_cast<int>(request.size()), reply.data(), length);
        if (MaxEncodedLength(request.size()) > limit) {
            FUZZ_CHECK(code == kErrorInvalidParameter && wire.written.size() == writtenBefore);
            return 0;
        }
        reply.resize(code == 0 ? static_cast<size_t>(length) : 0);
        FUZZ_CHECK((ModelOutcome{code, reply}) == expected);
        // What went out for this exchange is the request, framed.
        const Bytes sent(wire.written.begin() + static_cast<std::ptrdiff_t>(writtenBefore),
                         wire.written.end());
        Bytes encoded(MaxEncodedLength(request.size()));
        encoded.resize(EncodeFrame(request, encoded.data()));
        FUZZ_CHECK(sent == encoded);
    }
    return 0;
}
