// STREAM WRITE of files and blocks over a real pty.
#include <gtest/gtest.h>

#include <cstdio>

#include "protocol/streaming.h"
#include "tests/protocol/host_fixture.h"

namespace veltrix::testing {
namespace {

// The tests here send files of every size; the partition bound is tested with the restore.
constexpr uint64_t kAnySize = ~uint64_t{0};

using StreamWriteTest = HostTest;

Bytes WriteRequest(uint32_t address, const Bytes& data) {
    return Concat({0x07, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                   static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)},
                  data);
}

TEST_F(StreamWriteTest, FileGoesOutInKilobyteChunksAtSectorAddresses) {
    const Bytes data = Pattern(1300);
    const auto path = WriteFile("image.mbn", data);
    session.sectorAddressing = true;
    board.Exchange(WriteRequest(100, Bytes(data.begin(), data.begin() + 1024)), {0x08});
    board.Exchange(WriteRequest(102, Bytes(data.begin() + 1024, data.end())), {0x08});
    board.ExpectQuiet();
    EXPECT_EQ(RunWithBoard([&] { return StreamWriteFile(path, session, 100, kAnySize); }), 0);
    EXPECT_EQ(console.str(), "Destination sector: 102\rDestination sector: 102\r\n");
    EXPECT_EQ(link.timeoutMs, 1000u);
}

TEST_F(StreamWriteTest, ByteAddressingStartsAtTheHandlesPosition) {
    const Bytes data = Pattern(1000);
    const auto path = WriteFile("image.bin", data);
    board.Exchange(WriteRequest(5000, Bytes(data.begin() + 10, data.end())), {0x08});
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::fseek(file, 10, SEEK_SET);
    EXPECT_EQ(RunWithBoard([&] { return StreamWriteFromHandle(5000, session, file); }), 0);
    std::fclose(file);
    EXPECT_EQ(console.str(), "Destination offset: 5990\r\n");
}

TEST_F(StreamWriteTest, EmptyFileSendsNothing) {
    const auto path = WriteFile("empty.bin", {});
    board.ExpectQuiet();
    EXPECT_EQ(RunWithBoard([&] { return StreamWriteFile(path, session, 7, kAnySize); }), 0);
}

TEST_F(StreamWriteTest, LogMessageReplyStopsTheWriteWithItsText) {
    const auto path = WriteFile("image.bin", Pattern(3000));
    session.sectorAddressing = true;
    const std::string text = "eMMC write failed\x01";
    board.ExpectAny().Answer(Concat({0x0E}, Bytes(text.begin(), text.end())));
    board.ExpectQuiet();
    EXPECT_EQ(RunWithBoard([&] { return StreamWriteFile(path, session, 0, kAnySize); }), 29);
    EXPECT_EQ(console.str(),
              "Device returned error: 14\neMMC write failed?\nDestination sector: 2\r\n");
}

TEST_F(StreamWriteTest, MissingFileIsReportedAndNothingSent) {
    const auto path = tempDir / "absent.mbn";
    board.ExpectQuiet();
    EXPECT_EQ(RunWithBoard([&] { return StreamWriteFile(path, session, 0, kAnySize); }),
              kErrorFileNotFound);
    EXPECT_EQ(console.str(), "Filename not found " + path.string() + "\n");
}

TEST_F(StreamWriteTest, BlockIsAlwaysPaddedToOneKilobyte) {
    const Bytes data = Pattern(512);
    board.Exchange(WriteRequest(0x1234, Concat(data, Bytes(512, 0))), {0x08});
    board.Exchange(WriteRequest(0x1235, Concat(data, Bytes(512, 0))), {0x0E, 'x'});
    board.ExpectQuiet();
    RunWithBoard([&] {
        EXPECT_EQ(StreamWriteBlock(512, 0x1234, session, data.data()), 0);
        EXPECT_EQ(StreamWriteBlock(512, 0x1235, session, data.data()), 29);
        EXPECT_EQ(StreamWriteBlock(1025, 0x1236, session, data.data()), 29);  // nothing sent
        return 0;
    });
    ASSERT_EQ(board.Frames().size(), 2u);
    EXPECT_EQ(board.Frames()[0].size(), 1029u);
}

TEST_F(StreamWriteTest, DataWriteSendsExactlyItsBytes) {
    const Bytes data = Pattern(512);
    board.Exchange(WriteRequest(0x40, data), {0x08});
    board.Exchange(WriteRequest(0x41, data), {0x0D, 3, 0, 0, 0});
    board.ExpectQuiet();
    RunWithBoard([&] {
        EXPECT_EQ(StreamWriteData(0x40, session, data), 0);
        EXPECT_EQ(StreamWriteData(0x41, session, data), 29);
        EXPECT_EQ(StreamWriteData(0x42, session, Bytes(1025, 1)), 29);  // nothing sent
        return 0;
    });
}

}  // namespace
}  // namespace veltrix::testing
