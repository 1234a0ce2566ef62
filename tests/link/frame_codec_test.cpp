#include "link/frame_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/fcs.h"

namespace veltrix {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(const Bytes& body) {
    Bytes out(MaxEncodedLength(body.size()));
    out.resize(EncodeFrame(body, out.data()));
    return out;
}

TEST(Fcs, CheckValueAndTableEntries) {
    const std::string digits = "123456789";
    EXPECT_EQ(Fcs16({reinterpret_cast<const uint8_t*>(digits.data()), digits.size()}), 0x906E);
    EXPECT_EQ(FcsTable()[1], 0x1189);
    EXPECT_EQ(FcsTable()[2], 0x2312);
    EXPECT_EQ(FcsTable()[128], 0x8408);
    EXPECT_EQ(FcsTable()[255], 0x0F78);
}

TEST(EncodeFrame, WireExamples) {
    EXPECT_EQ(Encode({0x06}), (Bytes{0x7E, 0x06, 0x4E, 0x95, 0x7E}));
    EXPECT_EQ(Encode({0x1B, 0x21}), (Bytes{0x7E, 0x1B, 0x21, 0xF5, 0x4E, 0x7E}));
}

TEST(EncodeFrame, EscapesFlagAndEscapeBytesOnly) {
    const Bytes wire = Encode({0x7E, 0x7D, 0x20, 0x5E});
    const Bytes head(wire.begin(), wire.begin() + 7);
    EXPECT_EQ(head, (Bytes{0x7E, 0x7D, 0x5E, 0x7D, 0x5D, 0x20, 0x5E}));
    Bytes body(wire.size());
    body.resize(UnstuffFrame(wire, body.data()));
    ASSERT_EQ(body.size(), 6u);
    EXPECT_TRUE(FrameFcsMatches(body));
}

// Pushes bytes until the collector closes; returns the unstuffed reply.
Bytes Collect(const Bytes& wire, size_t capacity = 64) {
    Bytes storage(capacity);
    FrameCollector c(storage);
    for (uint8_t b : wire) {
        if (c.Push(b) != FrameCollector::Step::kMore)
            break;
    }
    Bytes out(c.Raw().size());
    out.resize(UnstuffFrame(c.Raw(), out.data()));
    return out;
}

TEST(FrameCollector, LeadingFlagsAndNoFlagReadAlike) {
    EXPECT_EQ(Collect({0x7E, 0x02, 0x6A, 0xD3, 0x7E}), (Bytes{0x02, 0x6A, 0xD3}));
    EXPECT_EQ(Collect({0x7E, 0x7E, 0x02, 0x6A, 0xD3, 0x7E}), (Bytes{0x02, 0x6A, 0xD3}));
    EXPECT_EQ(Collect({0x02, 0x6A, 0xD3, 0x7E}), (Bytes{0x02, 0x6A, 0xD3}));
    EXPECT_TRUE(FrameFcsMatches(Bytes{0x02, 0x6A, 0xD3}));
}

TEST(FrameCollector, EscapePairsShrinkTheReply) {
    EXPECT_EQ(Collect({0x7E, 0x04, 0x7D, 0x5E, 0x7D, 0x5D, 0x01, 0x7E}),
              (Bytes{0x04, 0x7E, 0x7D, 0x01}));
}

TEST(FrameCollector, ReportsFullWithoutOverrun) {
    Bytes storage(4);
    FrameCollector c(storage);
    EXPECT_EQ(c.Push(0x7E), FrameCollector::Step::kMore);
    EXPECT_EQ(c.Push(0x01), FrameCollector::Step::kMore);
    EXPECT_EQ(c.Push(0x02), FrameCollector::Step::kMore);
    EXPECT_EQ(c.Push(0x03), FrameCollector::Step::kFull);
    EXPECT_EQ(c.Push(0x04), FrameCollector::Step::kFull);
    EXPECT_EQ(c.Raw().size(), 4u);
}

// Reference codec: the byte rules written out one byte at a time, to hold the word-at-a-time
// paths against on data dense with flags and escapes at every alignment.
uint16_t ReferenceFcs(const Bytes& body) {
    uint16_t fcs = 0xFFFF;
    for (uint8_t b : body) fcs = static_cast<uint16_t>((fcs >> 8) ^ FcsTable()[(fcs ^ b) & 0xFF]);
    return static_cast<uint16_t>(fcs ^ 0xFFFF);
}

Bytes ReferenceEncode(const Bytes& body) {
    Bytes all = body;
    const uint16_t fcs = ReferenceFcs(body);
    all.push_back(static_cast<uint8_t>(fcs & 0xFF));
    all.push_back(static_cast<uint8_t>(fcs >> 8));
    Bytes out = {0x7E};
    for (uint8_t b : all) {
        if (b == 0x7E || b == 0x7D) {
            out.push_back(0x7D);
            out.push_back(b ^ 0x20);
        } else {
            out.push_back(b);
        }
    }
    out.push_back(0x7E);
    return out;
}

TEST(FrameCodec, WordPathsMatchTheByteRules) {
    uint32_t seed = 99;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    const uint8_t dense[] = {0x7E, 0x7D, 0x7C, 0x7F, 0x5E, 0x5D, 0x00, 0xFF};
    for (size_t length = 0; length < 90; ++length) {
        for (int round = 0; round < 6; ++round) {
            Bytes body(length);
            for (uint8_t& b : body) {
                b = round % 2 ? dense[next() % 8] : static_cast<uint8_t>(next());
            }
            SCOPED_TRACE(length);
            EXPECT_EQ(Fcs16(body), ReferenceFcs(body));
            const Bytes wire = Encode(body);
            ASSERT_EQ(wire, ReferenceEncode(body));
            Bytes out(wire.size());
            out.resize(UnstuffFrame(wire, out.data()));
            EXPECT_TRUE(FrameFcsMatches(out));
            EXPECT_EQ(Bytes(out.begin(), out.end() - 2), body);
            Bytes inPlace = wire;  // unstuffing into the raw bytes themselves
            inPlace.resize(UnstuffFrame(inPlace, inPlace.data()));
            EXPECT_EQ(inPlace, out);
        }
    }
}

// Feeding chunks must take exactly the bytes, and build exactly the raw frame, that pushing
// them one at a time would.
TEST(FrameCollector, FeedMatchesPushOnAnyChunking) {
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    for (int round = 0; round < 400; ++round) {
        Bytes stream(next() % 80);
        for (uint8_t& b : stream)
            b = (next() % 4 == 0) ? 0x7E : static_cast<uint8_t>(next());
        const size_t capacity = 3 + next() % 40;

        Bytes pushStorage(capacity);
        FrameCollector pushed(pushStorage);
        size_t pushTaken = 0;
        auto pushStep = FrameCollector::Step::kMore;
        while (pushTaken < stream.size() && pushStep == FrameCollector::Step::kMore) {
            if (pushed.Closed() || pushed.Raw().size() >= capacity)
                break;
            pushStep = pushed.Push(stream[pushTaken++]);
        }

        Bytes feedStorage(capacity);
        FrameCollector fed(feedStorage);
        size_t feedTaken = 0;
        auto feedStep = FrameCollector::Step::kMore;
        while (feedTaken < stream.size() && feedStep == FrameCollector::Step::kMore) {
            const size_t chunk = std::min<size_t>(1 + next() % 9, stream.size() - feedTaken);
            feedTaken += fed.Feed(std::span(stream).subspan(feedTaken, chunk), &feedStep);
        }
        SCOPED_TRACE(round);
        EXPECT_EQ(feedTaken, pushTaken);
        EXPECT_EQ(feedStep, pushStep);
        EXPECT_EQ(Bytes(fed.Raw().begin(), fed.Raw().end()),
                  Bytes(pushed.Raw().begin(), pushed.Raw().end()));
    }
}

TEST(FrameCollector, FeedLeavesWhatFollowsTheClosingFlag) {
    const Bytes burst = {0x7E, 0x02, 0x6A, 0xD3, 0x7E, 0x7E, 0x03};
    Bytes storage(32);
    FrameCollector c(storage);
    auto step = FrameCollector::Step::kMore;
    EXPECT_EQ(c.Feed(burst, &step), 5u);
    EXPECT_EQ(step, FrameCollector::Step::kClosed);
    EXPECT_EQ(c.Feed(burst, &step), 0u);
}

}  // namespace
}  // namespace veltrix
