// Framed exchanges over a real pseudo-terminal: the master side plays the board.

#include <algorithm>
#include <thread>

#include "link/framing/fcs.h"
#include "tests/link/link_test_util.h"

namespace veltrix::testing {
namespace {

using TransactOverPty = LinkOverPty;

TEST_F(TransactOverPty, WireExamplesAndReplyWithItsFcs) {
    pty.Write({0x7E, 0x02, 0x6A, 0xD3, 0x7E});
    int code = -1;
    EXPECT_EQ(Exchange({0x06}, 64, &code), (Bytes{0x02, 0x6A, 0xD3}));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(pty.ReadFrame(), (Bytes{0x7E, 0x06, 0x4E, 0x95, 0x7E}));

    pty.Write(Frame({0x1C}));
    Exchange({0x1B, 0x21}, 64, &code);
    EXPECT_EQ(pty.ReadFrame(), (Bytes{0x7E, 0x1B, 0x21, 0xF5, 0x4E, 0x7E}));
    EXPECT_EQ(console.str(), "");
}

// A reply that comes after its exchange gave up belongs to that exchange: the next exchange
// reads only its own reply. An exchange that did not time out drops nothing that follows.
TEST_F(TransactOverPty, LateReplyIsDroppedBeforeTheNextRequest) {
    SetLinkTimeout(link, kShortMs);
    int code = -1;
    EXPECT_EQ(Exchange({0x06}, 64, &code), Bytes{});  // no answer in time
    pty.ReadFrame();
    pty.Write(Frame({0x02}));  // the late answer to the first request
    ASSERT_TRUE(WaitQueued(1));
    SetLinkTimeout(link, kGenerousMs);
    std::thread board([&] {
        pty.ReadFrame();
        pty.Write(Frame({0x1C}));
    });
    EXPECT_EQ(Exchange({0x1B, 0x21}, 64, &code), WithFcs({0x1C}));
    board.join();

    // Bytes after a reply that came in time stay for the next exchange.
    pty.Write(Concat(Frame({0x02}), Frame({0x04})));
    EXPECT_EQ(Exchange({0x06}, 64, &code), WithFcs({0x02}));
    EXPECT_EQ(Exchange({0x06}, 64, &code), WithFcs({0x04}));
}

struct ReplyCase {
    const char* name;
    Bytes wire;
    Bytes expected;
};

TEST_F(TransactOverPty, ReplyByteRules) {
    const Bytes escaped = {0x12, 0x7E, 0x34, 0x7D, 0x56};
    const ReplyCase cases[] = {
        {"leading flag", {0x7E, 0x02, 0x6A, 0xD3, 0x7E}, {0x02, 0x6A, 0xD3}},
        {"two leading flags", {0x7E, 0x7E, 0x02, 0x6A, 0xD3, 0x7E}, {0x02, 0x6A, 0xD3}},
        {"no leading flag", {0x02, 0x6A, 0xD3, 0x7E}, {0x02, 0x6A, 0xD3}},
        {"escaped 7E and 7D", Frame(escaped), WithFcs(escaped)},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        pty.Write(c.wire);
        int code = -1;
        EXPECT_EQ(Exchange({0x06}, 64, &code), c.expected);
        EXPECT_EQ(code, 0);
        pty.ReadFrame();
    }
    // Each escape pair shrinks the stored reply by one byte.
    EXPECT_EQ(Frame(escaped).size(), 2 + escaped.size() + 2 + 2);
}

TEST_F(TransactOverPty, RequestAndFcsBytesAreEscapedOnTheWire) {
    // A body whose FCS contains a flag or an escape byte.
    Bytes fcsNeedsEscape;
    for (unsigned v = 0; v < 0x10000 && fcsNeedsEscape.empty(); ++v) {
        const Bytes body = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v), 0x01};
        const uint16_t fcs = Fcs16(body);
        const uint8_t lo = fcs & 0xFF;
        const uint8_t hi = fcs >> 8;
        if (lo == 0x7E || lo == 0x7D || hi == 0x7E || hi == 0x7D)
            fcsNeedsEscape = body;
    }
    ASSERT_FALSE(fcsNeedsEscape.empty());
    const Bytes requests[] = {{0x7E, 0x7D, 0x01}, fcsNeedsEscape};
    for (const Bytes& request : requests) {
        SetLinkTimeout(link, kShortMs);
        int code = -1;
        Exchange(request, 64, &code);
        EXPECT_EQ(code, 0);
        const Bytes wire = pty.ReadFrame();
        EXPECT_EQ(wire, Frame(request));
        ASSERT_GE(wire.size(), 2u);
        EXPECT_EQ(std::count(wire.begin() + 1, wire.end() - 1, 0x7E), 0);
        EXPECT_GE(std::count(wire.begin(), wire.end(), 0x7D), 1);
    }
    const Bytes first = Frame({0x7E, 0x7D, 0x01});
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 5), (Bytes{0x7E, 0x7D, 0x5E, 0x7D, 0x5D}));
}

TEST_F(TransactOverPty, CapacityIsCheckedOnTheRawLength) {
    const Bytes body(36, 0x41);
    const Bytes wire = Frame(body);
    ASSERT_EQ(wire.size(), 40u);
    for (int capacity : {32, 39}) {
        SCOPED_TRACE(capacity);
        pty.Write(wire);
        Bytes reply(static_cast<size_t>(capacity));
        int length = capacity;
        EXPECT_EQ(Transact(Bytes{0x06}.data(), 1, link, reply.data(), length), 8);
        EXPECT_EQ(length, capacity);
    }
    pty.Write(wire);
    int code = -1;
    EXPECT_EQ(Exchange({0x06}, 40, &code), WithFcs(body));
    EXPECT_EQ(code, 0);
}

TEST_F(TransactOverPty, SilenceAndTornFramesGiveAnEmptyReply) {
    SetLinkTimeout(link, kShortMs);
    const Bytes before[] = {{}, {0x7E, 0x02, 0x6A}, {0x7E, 0x7E}};
    for (const Bytes& partial : before) {
        if (!partial.empty())
            pty.Write(partial);
        const auto start = std::chrono::steady_clock::now();
        Bytes reply(64, 0xEE);
        int length = 64;
        EXPECT_EQ(Transact(Bytes{0x06}.data(), 1, link, reply.data(), length), 0);
        EXPECT_EQ(length, 0);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kShortMs));
    }
}

TEST_F(TransactOverPty, TwoRepliesInOneBurstServeTwoExchanges) {
    pty.Write(Concat(Frame({0x02}), Frame({0x03, 0x7E})));
    int code = -1;
    EXPECT_EQ(Exchange({0x01}, 64, &code), WithFcs({0x02}));
    EXPECT_EQ(Exchange({0x01}, 64, &code), WithFcs({0x03, 0x7E}));
    EXPECT_EQ(code, 0);
    // Both requests went out, in order.
    EXPECT_EQ(pty.ReadFrame(), Frame({0x01}));
    EXPECT_EQ(pty.ReadFrame(), Frame({0x01}));
}

TEST_F(TransactOverPty, ReplySplitAcrossManySmallWrites) {
    Bytes body;
    for (int i = 0; i < 300; ++i)
        body.push_back(static_cast<uint8_t>(i * 7 + 0x70));
    const Bytes wire = Frame(body);
    std::jthread peer([&] {
        if (pty.ReadFrame(static_cast<int>(kGenerousMs)).empty())
            return;
        size_t chunk = 1;
        for (size_t at = 0; at < wire.size(); at += chunk, chunk = chunk % 5 + 1) {
            const size_t n = std::min(chunk, wire.size() - at);
            pty.Write(Bytes(wire.begin() + static_cast<long>(at),
                            wire.begin() + static_cast<long>(at + n)));
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    int code = -1;
    EXPECT_EQ(Exchange({0x05, 0x00}, 1024, &code), WithFcs(body));
    EXPECT_EQ(code, 0);
}

TEST_F(TransactOverPty, BadFcsIsNoAnswerWithADiagnostic) {
    pty.Write({0x7E, 0x02, 0x6A, 0xD4, 0x7E});
    int code = -1;
    EXPECT_EQ(Exchange({0x06}, 64, &code), Bytes{});
    EXPECT_EQ(code, 0);
    const std::string line = console.str();
    EXPECT_NE(line.find("frame check"), std::string::npos) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    // A frame too short to hold an FCS is dropped the same way; the link goes on working.
    pty.Write(Concat({0x7E, 0x02, 0x7E}, Frame({0x02})));
    EXPECT_EQ(Exchange({0x06}, 64, &code), Bytes{});
    EXPECT_EQ(Exchange({0x06}, 64, &code), WithFcs({0x02}));
}

// Exactly 0x20000 bytes without a closing flag are taken and dropped, never stored past the
// frame buffer; the frame after them answers the next exchange.
TEST_F(TransactOverPty, NoClosingFlagWithinTheFrameBuffer) {
    for (uint8_t filler : {uint8_t{0x55}, uint8_t{0x7E}}) {
        SCOPED_TRACE(filler);
        console.str("");
        std::jthread peer([&] {
            pty.Write(Bytes(kFrameBufferSize, filler));
            pty.Write(Frame({0x02}));
        });
        Bytes reply(kFrameBufferSize + 16);
        int length = static_cast<int>(reply.size());
        EXPECT_EQ(Transact(Bytes{0x06}.data(), 1, link, reply.data(), length), 0);
        EXPECT_EQ(length, 0);
        EXPECT_NE(console.str().find("No frame end"), std::string::npos);
        int code = -1;
        EXPECT_EQ(Exchange({0x06}, 64, &code), WithFcs({0x02}));
    }
}

TEST_F(TransactOverPty, PurgeDropsBytesInTheLinkAndInThePort) {
    const Bytes burst = Concat(Frame({0x02}), Frame({0x03}));
    pty.Write(burst);
    ASSERT_TRUE(WaitQueued(static_cast<int>(burst.size())));
    int code = -1;
    EXPECT_EQ(Exchange({0x01}, 64, &code), WithFcs({0x02}));
    PurgePort(link);  // the second frame was read along with the first: held in the link
    SetLinkTimeout(link, kShortMs);
    EXPECT_EQ(Exchange({0x01}, 64, &code), Bytes{});

    pty.Write(Frame({0x04}));
    ASSERT_TRUE(WaitQueued(5));
    PurgePort(link);  // still in the port's input queue
    EXPECT_EQ(Queued(), 0);
    EXPECT_EQ(Exchange({0x01}, 64, &code), Bytes{});
    EXPECT_EQ(code, 0);
}

TEST_F(TransactOverPty, RejectsUnsafeArgumentsWithoutWriting) {
    Bytes reply(8);
    int length = 8;
    EXPECT_EQ(Transact(nullptr, -1, link, reply.data(), length), kErrorInvalidParameter);
    EXPECT_EQ(Transact(nullptr, 4, link, reply.data(), length), kErrorInvalidParameter);
    const Bytes huge(kFrameBufferSize / 2, 0x7E);
    EXPECT_EQ(Transact(huge.data(), static_cast<int>(huge.size()), link, reply.data(), length),
              kErrorInvalidParameter);
    EXPECT_EQ(length, 8);
    EXPECT_EQ(pty.Drain(), Bytes{});
    // The largest request of the program fits, escapes and all.
    const Bytes largest(1029, 0x7D);
    SetLinkTimeout(link, kShortMs);
    EXPECT_EQ(Transact(largest.data(), 1029, link, reply.data(), length), 0);
    EXPECT_EQ(pty.ReadFrame(), Frame(largest));
}

}  // namespace
}  // namespace veltrix::testing
