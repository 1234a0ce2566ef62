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
    return Join({{0x07, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                  static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)},
                 data});
}

std::filesystem::path WriteFile(const TempFolder& folder, const std::string& name,
                                const Bytes& data) {
    WriteBytes(folder / name, data);
    return folder / name;
}

TEST_F(StreamWriteTest, FileGoesOutInKilobyteChunksAtSectorAddresses) {
    const Bytes data = Noise(1300);
    const auto path = WriteFile(folder, "image.mbn", data);
    session.sectorAddressing = true;
    board.Exchange(WriteRequest(100, Slice(data, 0, 1024)), {0x08});
    board.Exchange(WriteRequest(102, Slice(data, 1024, 276)), {0x08});
    board.ExpectQuiet();
    EXPECT_EQ(RunWithBoard([&] { return StreamWriteFile(path, session, 100, kAnySize); }), 0);
    EXPECT_EQ(console.str(), "Destination sector: 102\rDestination sector: 102\r\n");
    EXPECT_EQ(link.timeoutMs, 1000u);
}

TEST_F(StreamWriteTest, ByteAddressingStartsAtTheHandlesPosition) {
    const Bytes data = Noise(1000);
    const auto path = WriteFile(folder, "image.bin", data);
    board.Exchange(WriteRequest(5000, Slice(data, 10, 990)), {0x08});
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::fseek(file, 10, SEEK_SET);
    EXPECT_EQ(RunWithBoard([&] { return StreamWriteFromHandle(5000, session, file); }), 0);
    std::fclose(file);
    EXPECT_EQ(console.str(), "Destination offset: 5990\r\n");
}

TEST_F(StreamWriteTest, LogMessageReplyStopsTheWriteWithItsText) {
    const auto path = WriteFile(folder, "image.bin", Noise(3000));
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
        EXPECT_EQ(StreamWriteFile(WriteFile(folder, "empty.bin", {}), session, 7, kAnySize), 0);
        return 0;
    });
    EXPECT_EQ(console.str(), "Filename not found " + path.string() + "\n\n");
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
