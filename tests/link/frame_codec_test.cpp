#include "link/framing/frame_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/framing/fcs.h"

namespace veltrix {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(const Bytes& body) {
    Bytes out(MaxEncodedLength(body.size()));
    out.resize(EncodeFrame(body, out.data()));
    return out;
}

TEST(Fcs, CheckValue) {
    const std::string digits = "123456789";
    EXPECT_EQ(Fcs16({reinterpret_cast<const uint8_t*>(digits.data()), digits.size()}), 0x906E);
}

// Reference codec: the byte rules written out one byte at a time, to hold the word-at-a-time
// paths against on data dense with flags and escapes at every alignment. The wire examples are
// checked end to end in transact_test; collection, a full frame buffer included, in
// transact_model_test.
uint16_t ReferenceFcs(const Bytes& body) {
    uint16_t fcs = 0xFFFF;
    for (uint8_t b : body)
        fcs = static_cast<uint16_t>((fcs >> 8) ^ FcsTable()[(fcs ^ b) & 0xFF]);
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

}  // namespace
}  // namespace veltrix
