// The simulated boot ROM over its real pseudo-terminal, spoken with the frame codec and raw
// reads and writes only. Sahara is proven against the host in host_upload_test.

#include <gtest/gtest.h>

#include <numeric>

#include "tests/sim/board_fixture.h"

namespace veltrix::sim::testing {
namespace {

class DloadBoard : public BoardFixture {};

TEST_F(DloadBoard, NopIsAnsweredWithAckOnTheWire) {
    StartBoard();
    auto host = Connect();
    host->WriteFrame({0x06});
    EXPECT_EQ(host->ReadFrame(), (Bytes{0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
}

TEST_F(DloadBoard, Write32LandsInMemoryAndGoStartsTheProgrammer) {
    StartBoard();
    auto host = Connect();
    Bytes data(256);
    std::iota(data.begin(), data.end(), 0);  // includes 0x7D and 0x7E, escaped on the wire
    Bytes write{0x0F};
    AppendBe32(write, 0x2A000010);
    AppendBe16(write, static_cast<uint16_t>(data.size()));
    write.insert(write.end(), data.begin(), data.end());
    ASSERT_EQ(host->Exchange(write), Bytes{0x02});

    EXPECT_EQ(board->ReadMemory(0x2A000010, data.size()), data);
    ASSERT_EQ(board->MemoryRanges().size(), 1u);
    EXPECT_EQ(board->MemoryRanges()[0], (std::pair<uint64_t, uint64_t>{0x2A000010, 256}));
    EXPECT_EQ(board->mode(), BoardMode::kDloadRom);

    Bytes go{0x05};
    AppendBe32(go, 0x2A000010);
    ASSERT_EQ(host->Exchange(go), Bytes{0x02});
    EXPECT_EQ(board->mode(), BoardMode::kProgrammer);
    EXPECT_EQ(board->goAddress(), 0x2A000010u);
}

}  // namespace
}  // namespace veltrix::sim::testing
