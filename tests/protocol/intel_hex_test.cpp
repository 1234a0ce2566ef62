// Intel-HEX records on buffers and their grouping into DLOAD write packets.
#include "protocol/intel_hex.h"

#include <gtest/gtest.h>

#include "protocol/hex_packet_plan.h"
#include "tests/support/bench_scene.h"

namespace veltrix::testing {
namespace {

struct RecordCase {
    const char* line;
    HexError error;
};

TEST(IntelHexRecord, ChecksEveryPartOfALine) {
    const RecordCase cases[] = {
        {":0400100001020304E2", HexError::kNone},
        {":0400100001020304e2", HexError::kNone},  // lower-case digits
        {":0400100001020304E3", HexError::kBadChecksum},
        {":0400100001020G04E2", HexError::kBadDigit},
        {":0400100001020304E", HexError::kBadDigit},      // odd digit count
        {":05001000010203E2", HexError::kCountMismatch},  // says 5 bytes, holds 3
        {":00000001", HexError::kTooShort},
        {"0400100001020304E2", HexError::kNoStartCode},
        {":03000004000100F8", HexError::kBadAddressRecord},  // 04 with 3 bytes
    };
    for (const auto& c : cases) {
        HexRecord r;
        EXPECT_EQ(ParseHexRecord(c.line, r), c.error) << c.line;
    }
    HexRecord r;
    ASSERT_EQ(ParseHexRecord(":0400100001020304e2", r), HexError::kNone);
    EXPECT_EQ(r.type, 0);
    EXPECT_EQ(r.address, 0x0010);
    EXPECT_EQ(r.data, (Bytes{1, 2, 3, 4}));
}

TEST(IntelHexText, SkipsBlankAndShortLinesAndNamesTheFaultyLine) {
    const std::string good = "\r\n" + HexRecordLine(0, 0x100, {9}) + "junk\n  \n\x1A\n" +
                             HexRecordLine(0, 0x101, {8}) + "\r\n" + kHexEnd;
    const HexParseResult ok = ParseIntelHex(good);
    ASSERT_TRUE(ok.ok());
    ASSERT_EQ(ok.records.size(), 3u);
    EXPECT_EQ(ok.records[1].line, 6);

    std::string bad = HexRecordLine(0, 0, {1, 2}) + HexRecordLine(0, 2, {3, 4});
    bad[bad.size() - 2] ^= 1;  // corrupt the checksum of line 2
    const HexParseResult fault = ParseIntelHex(bad + kHexEnd);
    EXPECT_EQ(fault.error, HexError::kBadChecksum);
    EXPECT_EQ(fault.errorLine, 2);
    EXPECT_TRUE(fault.records.empty());
    EXPECT_EQ(ParseIntelHex(":0000\n").error, HexError::kTooShort);  // a cut record is no stray
}

std::vector<HexWritePacket> Plan(const std::string& text, uint32_t* start = nullptr) {
    const HexParseResult parsed = ParseIntelHex(text);
    EXPECT_TRUE(parsed.ok()) << HexErrorText(parsed.error) << " at " << parsed.errorLine;
    HexUploadPlan plan = PlanHexUpload(parsed.records);
    if (start)
        *start = plan.startAddress;
    return plan.packets;
}

TEST(HexPacketPlan, SixteenByteRecordsMakeFullPacketsAtTheUpperAddress) {
    uint32_t start = 1;
    const Bytes data = Noise(600);
    const auto packets = Plan(HexUpper(0x0800) + HexDataLines(0x1230, data) + kHexEnd, &start);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].address, 0x08001230u);
    EXPECT_EQ(packets[0].data, Slice(data, 0, 256));
    EXPECT_EQ(packets[1].address, 0x08001330u);
    EXPECT_EQ(packets[2].data, Slice(data, 512, 88));
    EXPECT_EQ(start, 0u);  // no 05 record: GO to 0
}

TEST(HexPacketPlan, NewPacketWhereAddressesJumpOrTheAreaIsFull) {
    // 04 mid-packet sends what is pending; the next packet starts at the new upper address.
    auto p = Plan(HexDataLines(0, Noise(32)) + HexUpper(1) + HexDataLines(0, Noise(16)));
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].data.size(), 32u);
    EXPECT_EQ(p[1].address, 0x10000u);  // no 01 record: the last data is still sent

    // A gap, and records that would overflow the 273-byte area, start packets of their own.
    p = Plan(HexDataLines(0x100, Noise(16)) + HexDataLines(0x200, Noise(16)) +
             HexDataLines(0x1000, Noise(510), 255));
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[1].address, 0x200u);
    EXPECT_EQ(p[2].address, 0x1000u);
    EXPECT_EQ(p[2].data.size(), 255u);
    EXPECT_EQ(p[3].address, 0x10FFu);
    // 255 bytes and a record of 18 fill the area exactly; one of 19 would not fit.
    for (const size_t more : {18u, 19u}) {
        p = Plan(HexDataLines(0, Noise(255), 255) + HexDataLines(255, Noise(more), more));
        EXPECT_EQ(p.size(), more == 18 ? 1u : 2u) << more;
        EXPECT_EQ(p[0].data.size(), more == 18 ? 273u : 255u) << more;
    }
}

TEST(HexPacketPlan, StartAndSegmentRecords) {
    uint32_t start = 0;
    // 02 segment base (as objcopy writes below 1 MiB) and a 03 start CS:IP.
    auto p = Plan(HexRecordLine(2, 0, {0x10, 0x00}) + HexDataLines(0x10, Noise(4)) +
                      HexRecordLine(3, 0, {0x10, 0x00, 0x00, 0x20}) + kHexEnd,
                  &start);
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].address, 0x10010u);
    EXPECT_EQ(start, 0x10020u);
    Plan(HexStart(0x2A000000) + kHexEnd, &start);
    EXPECT_EQ(start, 0x2A000000u);
    EXPECT_TRUE(Plan(HexRecordLine(0, 0x40, {}) + kHexEnd).empty());
}

// A 150 000-byte binary as Intel HEX (04 records at every 64 KiB, a 05 start record) must land
// byte for byte where it belongs, from a base inside a 64 KiB page too.
TEST(HexPacketPlan, HexOfABinaryRebuildsIt) {
    const Bytes binary = Noise(150000, 7);
    for (const uint32_t base : {0u, 0x0800F0F0u}) {
        SCOPED_TRACE(base);
        uint32_t start = 0;
        Bytes rebuilt(binary.size());
        for (const auto& packet : Plan(IntelHex(binary, base), &start)) {
            ASSERT_LE(packet.data.size(), kHexPacketCapacity);
            ASSERT_GE(packet.address, base);
            ASSERT_LE(packet.address - base + packet.data.size(), rebuilt.size());
            std::copy(packet.data.begin(), packet.data.end(),
                      rebuilt.begin() + (packet.address - base));
        }
        EXPECT_EQ(rebuilt, binary);
        EXPECT_EQ(start, base);
    }
}

}  // namespace
}  // namespace veltrix::testing
