// The simulated board seen from the wire with the frame codec only: its answer to NOP, a fault
// it commits on request, and its clean stop. The other faults are proven against the host in
// host_programmer_test and host_upload_test.

#include <gtest/gtest.h>

#include <chrono>

#include "tests/sim/board_fixture.h"

namespace veltrix::sim::testing {
namespace {

using FaultBoard = BoardFixture;

TEST_F(FaultBoard, VanishTakesThePortAwayAndBringsItBackInTheSameState) {
    StartBoard();
    auto host = Connect();
    BootProgrammer(*host);
    board->InjectFault({.kind = FaultKind::kVanish, .ms = 100});
    EXPECT_FALSE(host->Exchange({0x27}, 50));
    ASSERT_TRUE(board->WaitUntil([&] { return !std::filesystem::exists(PortPath()); }, 1000));
    host.reset();
    ASSERT_TRUE(board->WaitUntil([&] { return std::filesystem::exists(PortPath()); }, 2000));
    ASSERT_TRUE(WaitForMode(BoardMode::kProgrammer));
    auto again = Connect();
    EXPECT_EQ((*again->Exchange({0x27}))[0], 0x24);
}

using BoardLifecycle = BoardFixture;

TEST_F(BoardLifecycle, ReplacesAStaleLinkAndStopsCleanlyWhileTheHostHoldsThePort) {
    std::filesystem::create_directories(options.portsFolder);
    std::filesystem::create_symlink("/dev/pts/does-not-exist", PortPath());
    StartBoard();
    EXPECT_EQ(board->linkPath(), PortPath());
    EXPECT_NE(std::filesystem::read_symlink(PortPath()), "/dev/pts/does-not-exist");
    const auto emmc = board->emmcPath();
    EXPECT_TRUE(std::filesystem::exists(emmc));
    auto host = Connect();
    host->WriteFrame({0x06});
    EXPECT_EQ(host->ReadFrame(), (Bytes{0x7E, 0x02, 0x6A, 0xD3, 0x7E}));  // ACK
    const auto start = std::chrono::steady_clock::now();
    board->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(PortPath())));
    EXPECT_FALSE(std::filesystem::exists(emmc)) << "the temporary eMMC is removed";
    board->Stop();  // twice is harmless

    std::string error;
    ASSERT_TRUE(board->Start(&error)) << error;  // and it starts again
    auto again = Connect();
    EXPECT_EQ(again->Exchange({0x06}), Bytes{0x02});
}

TEST(FaultScript, ReplyFaultsOfTheCommandLine) {
    const auto cut = ParseFault("short-reply,bytes=3,cmd=0x03,nth=2", nullptr);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->kind, FaultKind::kShortReply);
    EXPECT_EQ(cut->bytes, 3);
    EXPECT_EQ(cut->command, 0x03);
    EXPECT_EQ(cut->skip, 1);
    const auto moved = ParseFault("other-address", nullptr);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->kind, FaultKind::kOtherAddress);
    std::string error;
    EXPECT_FALSE(ParseFault("short-reply,bytes=0", &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace veltrix::sim::testing
