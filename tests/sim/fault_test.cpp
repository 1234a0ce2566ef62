// The simulated board's fixed answer to NOP, the words of its fault script, and its clean stop.
// Its faults are met against the host in host_upload_test, the AP check and the fault matrix.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "tests/sim/board_fixture.h"

namespace veltrix::sim::testing {
namespace {

namespace fs = std::filesystem;
using FaultBoard = BoardFixture;

// NOP, answered with ACK and its frame check as the boot ROM sends them.
Bytes Nop(SerialLink& link) {
    const uint8_t nop[] = {0x06};
    Bytes reply(16);
    int length = 16;
    EXPECT_EQ(link.Transact(nop, 1, reply.data(), length), 0);
    reply.resize(static_cast<size_t>(length));
    return reply;
}

TEST_F(FaultBoard, ReplacesAStaleLinkAndStopsCleanlyWhileTheHostHoldsThePort) {
    fs::create_directories(options.portsFolder);
    fs::create_symlink("/dev/pts/does-not-exist", PortPath());
    StartAndOpen();
    EXPECT_EQ(board->linkPath(), PortPath());
    EXPECT_NE(fs::read_symlink(PortPath()), "/dev/pts/does-not-exist");
    const auto emmc = board->emmcPath();
    EXPECT_TRUE(fs::exists(emmc));
    EXPECT_EQ(Nop(link), (Bytes{0x02, 0x6A, 0xD3}));
    const auto start = std::chrono::steady_clock::now();
    board->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(fs::exists(fs::symlink_status(PortPath())));
    EXPECT_FALSE(fs::exists(emmc)) << "the temporary eMMC is removed";
    board->Stop();  // twice is harmless

    std::string error;
    ASSERT_TRUE(board->Start(&error)) << error;  // and it starts again
    ASSERT_EQ(link.Open(options.portNumber), 0);
    EXPECT_EQ(Nop(link), (Bytes{0x02, 0x6A, 0xD3}));
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

// Random faults come from their seed alone, so a failing soak can be replayed request by request.
TEST(FaultScript, RandomFaultsReplayFromTheirSeed) {
    const auto strikes = [](const char* script) {
        std::string error;
        const auto random = ParseRandomFaults(script, &error);
        EXPECT_TRUE(random) << error;
        FaultPlan plan;
        plan.Randomize(random.value_or(RandomFaults{}));
        std::string seen;
        for (int i = 0; i < 2000; ++i) {
            const auto fault = plan.Next(0x03);
            seen += fault ? static_cast<char>('a' + static_cast<int>(fault->kind)) : '.';
        }
        return seen;
    };
    const std::string first = strikes("seed=7,rate=0.05");
    EXPECT_EQ(strikes("seed=7,rate=0.05"), first);
    EXPECT_NE(strikes("seed=8,rate=0.05"), first);
    const auto struck = std::count_if(first.begin(), first.end(), [](char c) { return c != '.'; });
    EXPECT_GT(struck, 60);
    EXPECT_LT(struck, 140);
    EXPECT_EQ(strikes("seed=7,rate=0"), std::string(2000, '.'));
    std::string error;
    EXPECT_FALSE(ParseRandomFaults("seed=7,rate=2", &error));
    EXPECT_FALSE(ParseRandomFaults("seed=x", &error));
}

}  // namespace
}  // namespace veltrix::sim::testing
