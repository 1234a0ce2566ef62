// Reply collection held against the byte-at-a-time model of the board link: random streams of
// frames, junk, stray flags and corrupt checks, delivered in random chunks, must give the same
// results, in the same order, as one-byte reads would.

#include "tests/support/transact_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "link/framing/frame_codec.h"
#include "link/serial_link.h"

namespace veltrix {
namespace {

using Bytes = std::vector<uint8_t>;

struct Rng {
    uint32_t seed;
    uint32_t operator()() { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; }
};

Bytes RandomStream(Rng& rng) {
    Bytes stream;
    const int pieces = 1 + static_cast<int>(rng() % 12);
    for (int p = 0; p < pieces; ++p) {
        Bytes body(rng() % 40);
        for (uint8_t& b : body)
            b = rng() % 5 == 0 ? 0x7E - rng() % 2 : static_cast<uint8_t>(rng());
        Bytes wire(MaxEncodedLength(body.size()));
        wire.resize(EncodeFrame(body, wire.data()));
        switch (rng() % 6) {
            case 0:
                wire.erase(wire.begin());
                break;  // no leading flag
            case 1:
                wire.insert(wire.begin(), 0x7E);
                break;  // two leading flags
            case 2:
                wire[wire.size() / 2] ^= 0x01;
                break;  // corrupt
            case 3:
                wire.resize(rng() % (wire.size() + 1));
                break;  // torn
            case 4:
                wire.assign(1 + rng() % 70, static_cast<uint8_t>(rng()));
                break;  // junk
            default:
                break;
        }
        stream.insert(stream.end(), wire.begin(), wire.end());
    }
    return stream;
}

TEST(TransactModel, ChunkedCollectionMatchesByteReads) {
    Rng rng{2024};
    int replies = 0, tooLong = 0, empty = 0, noFrameEnd = 0, badCheck = 0;
    for (int round = 0; round < 600; ++round) {
        const Bytes stream = RandomStream(rng);
        const std::vector<int> model(stream.begin(), stream.end());
        const size_t limit = 24 + rng() % 60;  // a small frame buffer reaches its end often
        std::ostringstream console;
        SerialLink link(SystemClock::Instance(), &console);
        link.LimitFrameBuffer(limit);
        link.SetPortFactory([&] {  // the stream in chunks of random size
            auto port = std::make_unique<testing::ChunkPort>();
            for (size_t at = 0, n = 0; at < stream.size(); at += n) {
                n = std::min<size_t>(1 + rng() % 23, stream.size() - at);
                port->chunks.emplace_back(stream.begin() + static_cast<long>(at),
                                          stream.begin() + static_cast<long>(at + n));
            }
            return port;
        });
        ASSERT_EQ(link.Open(1), 0);
        size_t at = 0;
        for (int exchange = 0; exchange < 40 && at < model.size(); ++exchange) {
            const size_t capacity = 4 + rng() % 64;
            const testing::ModelOutcome expected =
                testing::ModelTransact(model, at, capacity, limit);
            Bytes reply(capacity);
            int length = static_cast<int>(capacity);
            const int code = link.Transact(Bytes{0x01}.data(), 1, reply.data(), length);
            reply.resize(code == 0 ? static_cast<size_t>(length) : 0);
            SCOPED_TRACE(::testing::Message() << "round " << round << " exchange " << exchange);
            ASSERT_EQ((testing::ModelOutcome{code, reply}), expected);
            replies += code == 0 && !reply.empty();
            tooLong += code == kErrorNotEnoughMemory;
            empty += code == 0 && reply.empty();
        }
        noFrameEnd += console.str().find("No frame end") != std::string::npos;
        badCheck += console.str().find("frame check") != std::string::npos;
    }
    // The streams reach every outcome.
    EXPECT_GT(replies, 100);
    EXPECT_GT(tooLong, 20);
    EXPECT_GT(empty, 100);
    EXPECT_GT(noFrameEnd, 5);
    EXPECT_GT(badCheck, 20);
}

}  // namespace
}  // namespace veltrix
