// The streaming commands over a real pty: request bytes, answer rule, time-outs, and STREAM WRITE
// of files and blocks.
#include "protocol/streaming.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "link/framing/fcs.h"
#include "tests/protocol/host_fixture.h"

namespace veltrix::testing {
namespace {

using StreamingTest = HostTest;

Bytes PartitionInfoBytes() {
    Bytes b(38, 0);
    b[0] = 0x23;
    b[34] = 0xAD;
    b[35] = 0xDE;
    b[36] = 0xB2;  // inner CRC 0x1CB2, low byte first
    b[37] = 0x1C;
    return b;
}

TEST_F(StreamingTest, PartitionInfoSendsTheFixedRequestAndSignExtendsTheCount) {
    const struct {
        Bytes reply;
        int64_t expected;
    } cases[] = {
        {{0x24, 9, 9, 9, 9, 0x00, 0x00, 0xE9, 0x00}, 0x00E90000},
        {{0x24, 0, 0, 0, 0, 0x01, 0x00, 0x00, 0x80}, -2147483647},  // bit 31 set
        {{0x24, 0, 0, 0, 0, 0x00, 0x10}, 6},                        // too short for a count
        {{0x0E, 0, 0, 0, 0, 0x00, 0x10, 0x00, 0x00}, 6},            // wrong code
    };
    for (const auto& c : cases)
        board.Exchange(PartitionInfoBytes(), c.reply);
    RunWithBoard([&] {
        for (const auto& c : cases)
            EXPECT_EQ(GetPhysicalPartitionInfo(session), c.expected);
        return 0;
    });
}

TEST_F(StreamingTest, ReadDataCopiesTheWholeReplyAndRefusesShortOnes) {
    const Bytes reply = Join({{0x04, 0x64, 0, 0, 0}, Noise(512)});
    // A sector of flag and escape bytes nearly doubles on the wire; it is still one good sector.
    Bytes stuffed = {0x04, 0x66, 0, 0, 0};
    for (int i = 0; i < 512; ++i)
        stuffed.push_back(i % 3 == 0 ? 0x7D : 0x7E);
    board.Exchange({0x03, 0x64, 0, 0, 0, 0x00, 0x02}, reply);
    board.Exchange({0x03, 0x65, 0, 0, 0, 0x00, 0x02}, {0x04, 0x65, 0, 0, 0, 1, 2});
    board.Exchange({0x03, 0x66, 0, 0, 0, 0x00, 0x02}, stuffed);
    board.Exchange({0x03, 0x67, 0, 0, 0, 0x00, 0x02}, Join({{0x04, 0x68, 0, 0, 0}, Noise(512)}));
    board.Exchange({0x03, 0x69, 0, 0, 0, 0x00, 0x02}, Join({{0x04, 0x69, 0, 0, 0}, Noise(511)}));
    board.Exchange({0x03, 0x6A, 0, 0, 0, 0xE8, 0x03},  // 1000 bytes, longer than the buffer
                   Join({{0x04, 0x6A, 0, 0, 0}, Bytes(1020, 0x11)}));
    board.Exchange({0x03, 0x6B, 0, 0, 0, 0x00, 0x02}, Join({{0x04, 0x6B, 0, 0, 0}, Noise(513)}));
    board.ExpectQuiet();
    uint8_t out[kReadReplyCapacity] = {};
    RunWithBoard([&] {
        EXPECT_EQ(ReadData(512, out, session, 100), 0);
        EXPECT_EQ(Bytes(out, out + 517), reply);
        EXPECT_EQ(ReadData(512, out, session, 101), 6);
        EXPECT_EQ(ReadData(512, out, session, 102), 0);
        EXPECT_EQ(Bytes(out, out + 517), stuffed);
        std::fill(out, out + sizeof out, 0xCC);
        EXPECT_EQ(ReadData(512, out, session, 103), 6);  // the reply of another address
        EXPECT_EQ(ReadData(512, out, session, 105), 6);  // one data byte short
        EXPECT_EQ(out[5], 0xCC);                         // nothing handed over
        EXPECT_EQ(ReadData(1000, out, session, 106), 6);
        EXPECT_EQ(ReadData(512, out, session, 107), 6);  // one data byte more than asked
        EXPECT_EQ(out[5], 0xCC);
        EXPECT_EQ(ReadData(1001, out, session, 102), 6);  // nothing sent
        return 0;
    });
    EXPECT_EQ(console.str(),
              "READ reply of 9 bytes, expected 519\n"
              "READ reply for address 0x68, asked 0x67\n"
              "READ reply of 518 bytes, expected 519\n"
              "READ reply of 1027 bytes, expected 1007\n"
              "READ reply of 520 bytes, expected 519\n");
    EXPECT_EQ(link.timeout(), 1000u);
}

TEST_F(StreamingTest, SmallCommandsFollowTheAnswerRule) {
    board.Exchange({0x25, 0x00, 0x28, 0, 0, 0x00, 0x00, 0x50, 0x00}, {0x04});
    board.Exchange({0x25, 0x00, 0x28, 0, 0, 0x00, 0x00, 0x50, 0x00}, {0x05});
    board.Exchange({0x0B}, {0x0C}).Exchange({0x0B}, {0x16});
    board.Exchange({0x15}, {0x16}).Exchange({0x15}, {0x0C});
    board.Exchange({0x1B, 0x21}, {0x1C}).Exchange({0x1B, 0x21}, {0x1D});
    board.Exchange({0x1D}, {0x1E}).Exchange({0x1D}, {0x0E, 'n', 'o'});
    // An erase's answer that comes too late waits in the port; OPEN MULTI IMAGE purges it first.
    board.Answer({0x1E}).Exchange({0x1B, 0x21}, {0x1C});
    RunWithBoard([&] {
        EXPECT_EQ(ReadCheck(0x500000, 0x2800, session), 0);
        EXPECT_EQ(ReadCheck(0x500000, 0x2800, session), 6);
        EXPECT_EQ(ResetTarget(session), 0);
        EXPECT_EQ(ResetTarget(session), 6);
        EXPECT_EQ(ClosePartition(session), 0);
        EXPECT_EQ(ClosePartition(session), 6);
        EXPECT_EQ(OpenPartition(session), 0);
        EXPECT_EQ(console.str(), "");
        EXPECT_EQ(OpenPartition(session), 6);
        EXPECT_EQ(console.str(), "Could not open partition\n");
        EXPECT_EQ(EraseFlash(session), 0);
        EXPECT_EQ(EraseFlash(session), 6);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(OpenPartition(session), 0);
        return 0;
    });
    EXPECT_EQ(link.timeout(), 1000u);  // a failed erase no longer leaves 60 s behind
}

TEST_F(StreamingTest, PmicStatusHandsOverAnyReply) {
    const Bytes status = {0x24, 0x01, 0x80, 0x7E, 0x7D};
    board.Exchange({0x27}, status).Exchange({0x27}, {0x13, 0x55});
    uint8_t out[kPmicReplyCapacity] = {};
    RunWithBoard([&] {
        EXPECT_EQ(GetPmicStatus(out, session), 0);
        EXPECT_EQ(Bytes(out, out + 5), status);
        EXPECT_EQ(GetPmicStatus(out, session), 6);
        EXPECT_EQ(out[1], 0x55);
        return 0;
    });
}

TEST_F(StreamingTest, DdrTestReadsTheVerdictCharacter) {
    // Bodies of two and three bytes whose frame check puts '1' at index 3 of the reply: that is
    // no verdict.
    Bytes fcsOne = {'O', 0}, fcsOneLow = {'O', 'K', 0};
    while (Fcs16(fcsOne) >> 8 != '1') {
        ++fcsOne[1];
    }
    for (int i = 0; (Fcs16(fcsOneLow) & 0xFF) != '1' && i < 0x10000; ++i) {
        fcsOneLow = {'O', static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    }
    const struct {
        Bytes reply;
        int outcome;
    } cases[] = {{{'r', 'e', 's', '0'}, 0},
                 {{0x00, 0x01, 0x02, '1', 'x'}, 1},
                 {{'r', 'e', 's', '7'}, 99},
                 {{'1'}, 99},
                 {fcsOne, 99},
                 {fcsOneLow, 99}};
    for (const auto& c : cases)
        board.Exchange({0x31, 0x0D}, c.reply);
    const uint8_t packet[] = {0x31, 0x0D};
    RunWithBoard([&] {
        for (const auto& c : cases) {
            int outcome = -1;
            EXPECT_EQ(RunDdrTest(outcome, session, packet, 2), 0);
            EXPECT_EQ(outcome, c.outcome);
        }
        return 0;
    });
    EXPECT_EQ(link.timeout(), 1000u);
    link.Close();  // a failed link leaves the outcome as it was
    int outcome = 42;
    EXPECT_EQ(RunDdrTest(outcome, session, packet, 2), 6);
    EXPECT_EQ(outcome, 42);
}

// The tests here send files of every size; the partition bound is tested with the restore.
constexpr uint64_t kAnySize = ~uint64_t{0};

using StreamWriteTest = HostTest;

Bytes WriteRequest(uint32_t address, const Bytes& data) {
    return Join({{0x07, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                  static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)},
                 data});
}

TEST_F(StreamWriteTest, FileGoesOutInKilobyteChunksAtSectorAddresses) {
    const Bytes data = Noise(1300);
    const auto path = File("image.mbn", data);
    session.sectorAddressing = true;
    board.Exchange(WriteRequest(100, Slice(data, 0, 1024)), {0x08});
    board.Exchange(WriteRequest(102, Slice(data, 1024, 276)), {0x08});
    board.ExpectQuiet();
    EXPECT_EQ(RunWithBoard([&] { return StreamWriteFile(path, session, 100, kAnySize); }), 0);
    EXPECT_EQ(console.str(), "Destination sector: 102\rDestination sector: 102\r\n");
    EXPECT_EQ(link.timeout(), 1000u);
}

TEST_F(StreamWriteTest, LogMessageReplyStopsTheWriteWithItsText) {
    const auto path = File("image.bin", Noise(3000));
    session.sectorAddressing = true;
    const std::string text = "eMMC write failed\x01";
    board.ExpectAny().Answer(Join({{0x0E}, Bytes(text.begin(), text.end())}));
    board.ExpectQuiet();
    EXPECT_EQ(RunWithBoard([&] { return StreamWriteFile(path, session, 0, kAnySize); }), 29);
    EXPECT_EQ(console.str(),
              "Device returned error: 14\neMMC write failed?\nDestination sector: 2\r\n");
}

TEST_F(StreamWriteTest, MissingOrEmptyFileSendsNothing) {
    const auto path = folder / "absent.mbn";
    board.ExpectQuiet();
    RunWithBoard([&] {
        EXPECT_EQ(StreamWriteFile(path, session, 0, kAnySize), kErrorFileNotFound);
        EXPECT_EQ(StreamWriteFile(File("empty.bin", {}), session, 7, kAnySize), 0);
        return 0;
    });
    EXPECT_EQ(console.str(), "Filename not found " + path.string() + "\n\n");
}

// An image that grows while it is written (another program still writing it) never sends more
// than its partition holds: the write stops at the partition's end and is refused as too large.
TEST_F(StreamWriteTest, FileThatGrowsWhileItIsWrittenStopsAtThePartitionsEnd) {
    const Bytes data = Noise(4096);
    const auto path = File("growing.mbn", Slice(data, 0, 2048));
    session.sectorAddressing = true;
    std::vector<Bytes> written;
    board.Serve([&](const Bytes& request) -> std::optional<Bytes> {
        if (written.empty()) {
            WriteBytes(path, data);  // the file doubles while its first chunk is taken
        }
        written.push_back(request);
        return Bytes{0x08};
    });
    EXPECT_EQ(RunWithBoard([&] { return StreamWriteFile(path, session, 10, 3072); }),
              kErrorFileTooLarge);
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[2], WriteRequest(14, Slice(data, 2048, 1024)));
    EXPECT_TRUE(console.str().ends_with("File " + path.string() +
                                        " grew while it was written; stopped at 3072 bytes\n"))
        << console.str();
}

// A block is always padded to one kilobyte; a data write sends exactly its bytes.
TEST_F(StreamWriteTest, BlockAndDataWrites) {
    const Bytes data = Noise(512);
    board.Exchange(WriteRequest(0x1234, Join({data, Bytes(512)})), {0x08});
    board.Exchange(WriteRequest(0x1235, Join({data, Bytes(512)})), {0x0E, 'x'});
    board.Exchange(WriteRequest(0x40, data), {0x08});
    board.Exchange(WriteRequest(0x41, data), {0x0D, 3, 0, 0, 0});
    board.ExpectQuiet();
    RunWithBoard([&] {
        EXPECT_EQ(StreamWriteBlock(512, 0x1234, session, data.data()), 0);
        EXPECT_EQ(StreamWriteBlock(512, 0x1235, session, data.data()), 29);
        EXPECT_EQ(StreamWriteBlock(1025, 0x1236, session, data.data()), 29);  // nothing sent
        EXPECT_EQ(StreamWriteData(0x40, session, data), 0);
        EXPECT_EQ(StreamWriteData(0x41, session, data), 29);
        EXPECT_EQ(StreamWriteData(0x42, session, Bytes(1025, 1)), 29);  // nothing sent
        return 0;
    });
}

}  // namespace
}  // namespace veltrix::testing
