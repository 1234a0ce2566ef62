// Host streaming commands against the simulated flash programmer: round trips over the eMMC, the
// PMIC replies of every family, a refused write, and the two-phase SDRAM exchange across a RESET.
// The other faults are met by every test on the board in the fault matrix.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "protocol/dload.h"
#include "protocol/streaming.h"
#include "sim/pmic_status.h"
#include "tests/sim/board_fixture.h"

namespace veltrix::sim::testing {
namespace {

// The tests here send files of every size; the partition bound is tested with the restore.
constexpr uint64_t kAnySize = ~uint64_t{0};

using veltrix::testing::Noise;

class HostProgrammer : public BoardFixture {};

Bytes ReadSector(ProgrammerSession& session, uint32_t sector) {
    uint8_t reply[kReadReplyCapacity] = {};
    if (ReadData(512, reply, session, sector) != 0) {
        return {};
    }
    return Bytes(reply + 5, reply + 5 + 512);
}

TEST_F(HostProgrammer, StreamWriteFileThenReadDataRoundTripsBySector) {
    StartAndOpen();
    BootProgrammerThroughHost();
    EXPECT_TRUE(session.sectorAddressing);
    EXPECT_EQ(GetPhysicalPartitionInfo(session), int64_t{(64 << 20) / 512});

    const Bytes file = Noise(1300, 5);  // 1024 @ sector 100, then 276 @ sector 102
    ASSERT_EQ(StreamWriteFile(WriteFile("boot.mbn", file), session, 100, kAnySize), 0)
        << console.str();
    Bytes back;
    for (uint32_t sector = 100; sector <= 102; ++sector) {
        const Bytes s = ReadSector(session, sector);
        ASSERT_EQ(s.size(), 512u) << sector;
        back.insert(back.end(), s.begin(), s.end());
    }
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 1300), file);
    EXPECT_EQ(veltrix::testing::ReadFlash(*board, 100, 2),
              Bytes(file.begin(), file.begin() + 1024));
    EXPECT_EQ(ReadCheck(0x500000, 0, session), 0);
    struct stat st {};  // the eMMC file is sparse
    ASSERT_EQ(stat(board->emmcPath().c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), 64ull << 20);
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 1ull << 20);

    const uint8_t block[512] = {0x7E, 0x7D, 0x01};
    ASSERT_EQ(StreamWriteBlock(512, 200, session, block), 0);
    EXPECT_EQ(ReadSector(session, 200), Bytes(block, block + 512));
    EXPECT_EQ(ReadSector(session, 201), Bytes(512, 0));
    ASSERT_EQ(EraseFlash(session), 0);
    EXPECT_EQ(ReadSector(session, 100), Bytes(512, 0));
    EXPECT_EQ(ClosePartition(session), 0);
}

TEST_F(HostProgrammer, PmicStatusOfEveryFamilyFitsTheHostsBuffer) {
    for (int family : {4, 5, 6, 7, 1}) {
        SCOPED_TRACE(family);
        options.pmicFamily = family;
        StartAndOpen();
        BootProgrammerThroughHost();
        for (const bool on : {false, true}) {
            uint8_t status[kPmicReplyCapacity] = {};
            int length = 0;
            ASSERT_EQ(
                on ? PmicOn(status, session, &length) : GetPmicStatus(status, session, &length), 0);
            const Bytes reply = PmicStatusReply(family, on);
            ASSERT_EQ(length, static_cast<int>(reply.size() + 2));  // and the frame check
            EXPECT_EQ(Bytes(status, status + reply.size()), reply);
        }
        ClosePort(link);
        board.reset();
    }
}

TEST_F(HostProgrammer, RefusedWriteGives29AndKeepsWhatWasWritten) {
    StartAndOpen();
    BootProgrammerThroughHost();
    board->InjectFault(*ParseFault("refuse-write,nth=2", nullptr));
    const Bytes file = Noise(3000, 2);
    EXPECT_EQ(StreamWriteFile(WriteFile("img.mbn", file), session, 10, kAnySize), 29);
    EXPECT_NE(console.str().find("Device returned error: 13"), std::string::npos) << console.str();
    Bytes first(1024), second(1024);
    ASSERT_TRUE(board->ReadEmmc(10 * 512, first));
    ASSERT_TRUE(board->ReadEmmc(12 * 512, second));
    EXPECT_EQ(first, Bytes(file.begin(), file.begin() + 1024));
    EXPECT_EQ(second, Bytes(1024, 0)) << "the refused block and what follows are not written";
}

// Phase 1 writes the test image into the boot partition, CLOSE, RESET; the board comes back in
// download mode with the verdict at the start of the family's verdict partition.
TEST_F(HostProgrammer, TwoPhaseSdramExchangeAcrossTheReset) {
    scene.WritePartitions({{"PrimaryGPT", 34, 16},
                           {"QCSBL", 100, 64},
                           {"OEMSBL1", 200, 64},
                           {"OEMSBL2", 264, 16},
                           {"SBL2", 300, 16}},
                          false);
    options.partitionTxt = scene.targetDir() / "partition.txt";
    const struct {
        int family;
        uint32_t bootSector;
        uint32_t verdictSector;
        const char* verdict;
    } cases[] = {{1, 300, 34, "PASS"}, {2, 200, 100, "FAIL"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.family);
        options.loaderFamily = c.family;
        options.verdictRecord = c.verdict;
        StartAndOpen();
        BootProgrammerThroughHost();
        ASSERT_EQ(
            StreamWriteFile(WriteFile("test.mbn", Noise(2048, 4)), session, c.bootSector, kAnySize),
            0);
        ASSERT_EQ(ClosePartition(session), 0);
        ASSERT_EQ(ResetTarget(session), 0);
        ClosePort(link);
        ASSERT_TRUE(
            board->WaitUntil([&] { return OpenPort(link, options.portNumber) == 0; }, 3000));
        EXPECT_EQ(board->resets(), 1);
        EXPECT_EQ(board->verdictsWritten(), 1);
        BootProgrammerThroughHost();
        uint8_t reply[kReadReplyCapacity] = {};
        ASSERT_EQ(ReadData(4, reply, session, c.verdictSector), 0);
        EXPECT_EQ(std::string(reply + 5, reply + 9), c.verdict);
        ClosePort(link);
        board.reset();
    }
}

}  // namespace
}  // namespace veltrix::sim::testing
