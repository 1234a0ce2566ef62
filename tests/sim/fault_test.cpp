// Faults the simulated board commits on request, seen from the wire; and the fault scripts.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "link/frame_codec.h"
#include "tests/sim/board_fixture.h"

namespace veltrix::sim::testing {
namespace {

class FaultBoard : public BoardFixture {};

TEST_F(FaultBoard, SilenceForNExchangesThenAnswers) {
    options.faults.push_back({FaultKind::kSilence, kAnyCommand, 0, 2});
    StartBoard();
    auto host = Connect();
    EXPECT_FALSE(host->Exchange({0x06}, 80));
    EXPECT_FALSE(host->Exchange({0x06}, 80));
    EXPECT_EQ(host->Exchange({0x06}), Bytes{0x02});
    EXPECT_EQ(board->requestsServed(), 3);
}

TEST_F(FaultBoard, RefusesTheNthWriteOnly) {
    StartBoard();
    auto host = Connect();
    BootProgrammer(*host);
    board->InjectFault(*ParseFault("refuse-write,nth=2", nullptr));
    Bytes write{0x07, 0, 0, 0, 0, 0xAB};
    EXPECT_EQ((*host->Exchange(write))[0], 0x08);
    EXPECT_EQ(host->Exchange({0x27}).value().at(0), 0x24);  // not a write: not counted
    write[1] = 1;
    EXPECT_EQ((*host->Exchange(write))[0], 0x0D);
    Bytes sector1(1);
    ASSERT_TRUE(board->ReadEmmc(512, sector1));
    EXPECT_EQ(sector1[0], 0) << "a refused write is not carried out";
    write[1] = 2;
    EXPECT_EQ((*host->Exchange(write))[0], 0x08);
}

TEST_F(FaultBoard, CorruptFcsWrongCodeAndLogMessage) {
    StartBoard();
    auto host = Connect();
    board->InjectFault({FaultKind::kCorruptFcs});
    board->InjectFault({FaultKind::kWrongCode, kAnyCommand, 1});
    Fault log{FaultKind::kLogMessage, kAnyCommand, 2};
    log.text = "flash busy";
    board->InjectFault(log);

    bool fcsOk = true;
    EXPECT_EQ(host->Exchange({0x06}, 1000, &fcsOk), Bytes{0x02});
    EXPECT_FALSE(fcsOk);
    EXPECT_EQ(host->Exchange({0x06}, 1000, &fcsOk), Bytes{0x03});
    EXPECT_TRUE(fcsOk);
    EXPECT_EQ(host->Exchange({0x06}), Text("\x0E"
                                           "flash busy"));
    EXPECT_EQ(host->Exchange({0x06}), Bytes{0x02});
}

TEST_F(FaultBoard, StallMidFrameDeliversTheRestLater) {
    StartBoard();
    auto host = Connect();
    board->InjectFault({.kind = FaultKind::kStall, .ms = 150});
    host->WriteFrame({0x06});
    const Bytes early = host->ReadFrame(60);
    EXPECT_FALSE(early.empty());
    EXPECT_NE(early.back(), kFrameFlag) << "only part of the frame before the stall";
    const Bytes rest = host->ReadFrame(1000);
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back(), kFrameFlag);
}

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

TEST_F(FaultBoard, BootRomRefusesAWriteWithANak) {
    options.faults.push_back(*ParseFault("refuse-write", nullptr));
    StartBoard();
    auto host = Connect();
    Bytes write{0x0F, 0, 0, 0x10, 0, 0, 1, 0x55};
    const auto reply = host->Exchange(write);
    ASSERT_TRUE(reply && !reply->empty());
    EXPECT_EQ((*reply)[0], 0x03);
    EXPECT_TRUE(board->MemoryRanges().empty());
    EXPECT_EQ(host->Exchange(write), Bytes{0x02});
}

class BoardLifecycle : public BoardFixture {};

TEST_F(BoardLifecycle, ReplacesAStaleLinkAndStopsCleanlyWhileTheHostHoldsThePort) {
    std::filesystem::create_directories(options.portsFolder);
    std::filesystem::create_symlink("/dev/pts/does-not-exist", PortPath());
    StartBoard();
    EXPECT_EQ(board->linkPath(), PortPath());
    EXPECT_NE(std::filesystem::read_symlink(PortPath()), "/dev/pts/does-not-exist");
    const auto emmc = board->emmcPath();
    EXPECT_TRUE(std::filesystem::exists(emmc));
    auto host = Connect();
    EXPECT_EQ(host->Exchange({0x06}), Bytes{0x02});
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

TEST_F(BoardLifecycle, KeepsAGivenEmmcFileAndRefusesToReplaceANonLink) {
    options.emmcPath = folder() / "emmc.img";
    StartBoard();
    const Bytes data{1, 2, 3, 4};
    ASSERT_TRUE(board->WriteEmmc(4096, data));
    board->Stop();
    ASSERT_TRUE(std::filesystem::exists(options.emmcPath));
    EXPECT_EQ(std::filesystem::file_size(options.emmcPath), 64ull << 20);
    StartBoard();  // the same file again: contents kept
    Bytes back(4);
    ASSERT_TRUE(board->ReadEmmc(4096, back));
    EXPECT_EQ(back, data);
    board->Stop();

    std::filesystem::create_directories(options.portsFolder);
    std::ofstream(PortPath()) << "not a link";
    SimulatedBoard other(options);
    std::string error;
    EXPECT_FALSE(other.Start(&error));
    EXPECT_NE(error.find("not a link"), std::string::npos) << error;
}

TEST(FaultPlan, CountsOnlyMatchingRequests) {
    FaultPlan plan;
    plan.Add({FaultKind::kRefuseWrite, kWriteCommands, 1, 2});
    plan.Add({FaultKind::kSilence, 0x27, 0, 1});
    EXPECT_FALSE(plan.Next(0x07));  // first write passes
    auto f = plan.Next(0x27);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->kind, FaultKind::kSilence);
    EXPECT_FALSE(plan.Next(0x27));  // spent
    EXPECT_EQ(plan.Next(0x0F)->kind, FaultKind::kRefuseWrite);
    EXPECT_EQ(plan.Next(0x07)->kind, FaultKind::kRefuseWrite);
    EXPECT_FALSE(plan.Next(0x07));
    EXPECT_TRUE(plan.Empty());
}

TEST(ParseFault, AcceptsEveryKindAndKey) {
    struct Case {
        const char* script;
        FaultKind kind;
        int command, skip, count;
        uint32_t ms;
        int code;
    };
    const Case cases[] = {
        {"silence", FaultKind::kSilence, kAnyCommand, 0, 1, 0, -1},
        {"silence,count=3", FaultKind::kSilence, kAnyCommand, 0, 3, 0, -1},
        {"refuse-write,nth=5", FaultKind::kRefuseWrite, kWriteCommands, 4, 1, 0, -1},
        {"refuse-write,cmd=0x07", FaultKind::kRefuseWrite, 0x07, 0, 1, 0, -1},
        {"corrupt-fcs,cmd=any,nth=2", FaultKind::kCorruptFcs, kAnyCommand, 1, 1, 0, -1},
        {"wrong-code,code=0x13", FaultKind::kWrongCode, kAnyCommand, 0, 1, 0, 0x13},
        {"stall,ms=2500", FaultKind::kStall, kAnyCommand, 0, 1, 2500, -1},
        {"vanish,ms=3000,cmd=write", FaultKind::kVanish, kWriteCommands, 0, 1, 3000, -1},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto f = ParseFault(c.script, &error);
        ASSERT_TRUE(f) << c.script << ": " << error;
        EXPECT_EQ(f->kind, c.kind) << c.script;
        EXPECT_EQ(f->command, c.command) << c.script;
        EXPECT_EQ(f->skip, c.skip) << c.script;
        EXPECT_EQ(f->count, c.count) << c.script;
        EXPECT_EQ(f->ms, c.ms) << c.script;
        EXPECT_EQ(f->code, c.code) << c.script;
    }
    EXPECT_EQ(ParseFault("log-message,nth=2,text=a, b=c", nullptr)->text, "a, b=c");
}

TEST(ParseFault, RejectsBadSpecsWithAReason) {
    for (const char* script :
         {"", "explode", "silence,count=0", "silence,nth=0", "stall,ms=-1", "silence,count",
          "wrong-code,code=256", "silence,cmd=0x100", "silence,speed=3", "silence,count=1x"}) {
        std::string error;
        EXPECT_FALSE(ParseFault(script, &error)) << script;
        EXPECT_FALSE(error.empty()) << script;
    }
}

}  // namespace
}  // namespace veltrix::sim::testing
