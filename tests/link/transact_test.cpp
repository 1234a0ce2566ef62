// Framed exchanges over a real pseudo-terminal: the master side plays the board. The reply
// collection rules (flags, escapes, capacity, torn and corrupt frames, chunks) are held against
// the byte-at-a-time model in transact_model_test.

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/link/link_test_util.h"

namespace veltrix::testing {
namespace {

using TransactOverPty = LinkOverPty;

TEST_F(TransactOverPty, WireExamplesBothWays) {
    pty.Write({0x7E, 0x02, 0x6A, 0xD3, 0x7E});
    int code = -1;
    EXPECT_EQ(Exchange({0x06}, 64, &code), (Bytes{0x02, 0x6A, 0xD3}));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(pty.ReadFrame(), (Bytes{0x7E, 0x06, 0x4E, 0x95, 0x7E}));

    pty.Write(Frame({0x1C}));
    EXPECT_EQ(Exchange({0x1B, 0x21}, 64), WithFcs({0x1C}));
    EXPECT_EQ(pty.ReadFrame(), (Bytes{0x7E, 0x1B, 0x21, 0xF5, 0x4E, 0x7E}));

    // Flag and escape bytes of a request go out escaped.
    link.SetTimeout(kShortMs);
    Exchange({0x7E, 0x7D, 0x01}, 64);
    const Bytes wire = pty.ReadFrame();
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 5), (Bytes{0x7E, 0x7D, 0x5E, 0x7D, 0x5D}));
    EXPECT_EQ(wire, Frame({0x7E, 0x7D, 0x01}));
    EXPECT_EQ(console.str(), "");
}

// A reply that comes after its exchange gave up belongs to that exchange: the next exchange
// reads only its own reply. An exchange that did not time out drops nothing that follows.
TEST_F(TransactOverPty, LateReplyIsDroppedBeforeTheNextRequest) {
    link.SetTimeout(kShortMs);
    EXPECT_EQ(Exchange({0x06}, 64), Bytes{});  // no answer in time
    pty.ReadFrame();
    pty.Write(Frame({0x02}));  // the late answer to the first request
    ASSERT_TRUE(WaitQueued(1));
    link.SetTimeout(kGenerousMs);
    std::thread board([&] {
        pty.ReadFrame();
        pty.Write(Frame({0x1C}));
    });
    EXPECT_EQ(Exchange({0x1B, 0x21}, 64), WithFcs({0x1C}));
    board.join();

    pty.Write(Frame({0x02}));
    pty.Write(Frame({0x04}));
    EXPECT_EQ(Exchange({0x06}, 64), WithFcs({0x02}));
    EXPECT_EQ(Exchange({0x06}, 64), WithFcs({0x04}));
}

TEST_F(TransactOverPty, BadFcsIsNoAnswerWithOneDiagnostic) {
    pty.Write({0x7E, 0x02, 0x6A, 0xD4, 0x7E});
    int code = -1;
    EXPECT_EQ(Exchange({0x06}, 64, &code), Bytes{});
    EXPECT_EQ(code, 0);
    EXPECT_EQ(console.str(), "Reply frame check failed (FCS D46A, expected D36A), reply dropped\n");
    // A frame too short to hold an FCS is dropped the same way; the link goes on working.
    pty.Write({0x7E, 0x02, 0x7E});
    pty.Write(Frame({0x02}));
    EXPECT_EQ(Exchange({0x06}, 64), Bytes{});
    EXPECT_EQ(Exchange({0x06}, 64), WithFcs({0x02}));
}

TEST_F(TransactOverPty, PurgeDropsBytesInTheLinkAndInThePort) {
    pty.Write(Frame({0x02}));
    pty.Write(Frame({0x03}));
    ASSERT_TRUE(WaitQueued(10));
    EXPECT_EQ(Exchange({0x01}, 64), WithFcs({0x02}));
    link.Purge();  // the second frame was read along with the first: held in the link
    link.SetTimeout(kShortMs);
    EXPECT_EQ(Exchange({0x01}, 64), Bytes{});

    pty.Write(Frame({0x04}));
    ASSERT_TRUE(WaitQueued(5));
    link.Purge();  // still in the port's input queue
    EXPECT_EQ(Queued(), 0);
    EXPECT_EQ(Exchange({0x01}, 64), Bytes{});
}

// Across a close and a reopen the link keeps its time-out (also one set while closed) and its
// cancel flag, and nothing of the earlier connection: no bytes it had read ahead, no reply it
// had given up on (the first reply after the reopen is taken, not purged as a late one).
TEST_F(TransactOverPty, ReopenKeepsTheSettingsButNothingOfTheEarlierConnection) {
    const auto silentReadMs = [this] {
        const auto start = std::chrono::steady_clock::now();
        uint8_t byte = 0;
        EXPECT_EQ(link.ReadRaw(&byte, 1), 0);
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    };
    pty.Write(Join({Frame({0x02}), Frame({0x03})}));
    ASSERT_TRUE(WaitQueued(10));
    EXPECT_EQ(Exchange({0x01}, 64), WithFcs({0x02}));  // 0x03 is read ahead, held in the link
    link.Close();
    link.SetTimeout(kShortMs);
    ASSERT_EQ(link.Open(pty.portNumber()), kErrorSuccess);
    pty.Drain();
    EXPECT_EQ(Exchange({0x01}, 64), Bytes{});  // not the earlier connection's 0x03
    EXPECT_LT(silentReadMs(), 500);            // the 30 ms time-out, not the port's own

    pty.ReadFrame();
    link.Close();  // after an exchange that gave up on its reply
    ASSERT_EQ(link.Open(pty.portNumber()), kErrorSuccess);
    pty.Write(Frame({0x04}));
    ASSERT_TRUE(WaitQueued(5));
    EXPECT_EQ(Exchange({0x06}, 64), WithFcs({0x04}));

    const std::atomic<bool> cancelled{true};
    link.WatchCancel(&cancelled);
    link.SetTimeout(kGenerousMs);
    link.Close();
    ASSERT_EQ(link.Open(pty.portNumber()), kErrorSuccess);
    EXPECT_LT(silentReadMs(), 1000);  // the cancel is watched, not the 3 s waited out
    link.WatchCancel(nullptr);
}

TEST_F(TransactOverPty, RejectsUnsafeArgumentsWithoutWriting) {
    Bytes reply(8);
    int length = 8;
    EXPECT_EQ(link.Transact(nullptr, -1, reply.data(), length), kErrorInvalidParameter);
    EXPECT_EQ(link.Transact(nullptr, 4, reply.data(), length), kErrorInvalidParameter);
    const Bytes huge(kFrameBufferSize / 2, 0x7E);
    EXPECT_EQ(link.Transact(huge.data(), static_cast<int>(huge.size()), reply.data(), length),
              kErrorInvalidParameter);
    EXPECT_EQ(length, 8);
    EXPECT_EQ(pty.Drain(), Bytes{});
    // The largest request of the program fits, escapes and all.
    const Bytes largest(1029, 0x7D);
    link.SetTimeout(kShortMs);
    EXPECT_EQ(link.Transact(largest.data(), 1029, reply.data(), length), 0);
    EXPECT_EQ(pty.ReadFrame(), Frame(largest));
}

}  // namespace
}  // namespace veltrix::testing
