// Host streaming commands against the simulated flash programmer: round trips over the eMMC,
// the failure paths the faults provoke, and the two-phase SDRAM exchange across a RESET.

#include <gtest/gtest.h>

#include <fstream>

#include "link/serial_link.h"
#include "protocol/dload.h"
#include "protocol/streaming.h"
#include "sim/pmic_status.h"
#include "tests/sim/host_board_fixture.h"

namespace veltrix::sim::testing {
namespace {

// The tests here send files of every size; the partition bound is tested with the restore.
constexpr uint64_t kAnySize = ~uint64_t{0};

class HostProgrammer : public HostBoardFixture {};

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

    const Bytes file = TestPattern(1300, 5);  // 1024 @ sector 100, then 276 @ sector 102
    ASSERT_EQ(StreamWriteFile(WriteFile("boot.mbn", file), session, 100, kAnySize), 0)
        << console.str();
    Bytes back;
    for (uint32_t sector = 100; sector <= 102; ++sector) {
        const Bytes s = ReadSector(session, sector);
        ASSERT_EQ(s.size(), 512u) << sector;
        back.insert(back.end(), s.begin(), s.end());
    }
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 1300), file);
    EXPECT_EQ(ReadCheck(0x500000, 0, session), 0);

    const uint8_t block[512] = {0x7E, 0x7D, 0x01};
    ASSERT_EQ(StreamWriteBlock(512, 200, session, block), 0);
    Bytes expected(1024, 0);
    std::copy(block, block + 512, expected.begin());
    EXPECT_EQ(ReadSector(session, 200), Bytes(expected.begin(), expected.begin() + 512));
    EXPECT_EQ(ReadSector(session, 201), Bytes(512, 0));

    uint8_t pmic[kPmicReplyCapacity] = {};
    ASSERT_EQ(GetPmicStatus(pmic, session), 0);
    const Bytes layout = PmicStatusReply(options.pmicFamily, false);
    EXPECT_EQ(Bytes(pmic, pmic + layout.size()), layout);
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
        uint8_t status[kPmicReplyCapacity] = {};
        ASSERT_EQ(GetPmicStatus(status, session), 0);
        const Bytes off = PmicStatusReply(family, false);
        EXPECT_EQ(Bytes(status, status + off.size()), off);

        const uint8_t pmicOn[] = {0x26};
        uint8_t reply[kPmicReplyCapacity] = {};
        int length = kPmicReplyCapacity;
        ASSERT_EQ(Transact(pmicOn, 1, link, reply, length), 0);
        const Bytes on = PmicStatusReply(family, true);
        ASSERT_EQ(length, static_cast<int>(on.size() + 2));
        EXPECT_EQ(Bytes(reply, reply + on.size()), on);
        ClosePort(link);
        board.reset();
    }
}

TEST_F(HostProgrammer, ReportedSectorCountWithBit31ComesBackSignExtended) {
    options.reportedSectors = 0x80000000u;
    StartAndOpen();
    BootProgrammerThroughHost();
    EXPECT_EQ(GetPhysicalPartitionInfo(session), static_cast<int64_t>(INT32_MIN));
}

TEST_F(HostProgrammer, SilenceIsRiddenOutByTheConnectRetries) {
    StartAndOpen();
    ASSERT_EQ(DloadNop(session), 0);
    ASSERT_EQ(UploadHexProgrammer(MakeHex(TestPattern(300), 0x1000, "p"), session), 0);
    board->InjectFault({FaultKind::kSilence, 0x01, 0, 3});  // three HELLOs unanswered
    SetLinkTimeout(link, 40);  // the silent exchanges cost 40 ms each, not a second
    ASSERT_EQ(ConnectProgrammer(session), 0);
    EXPECT_EQ(clock.Sleeps(), (std::vector<uint32_t>{500, 500, 500}));
}

TEST_F(HostProgrammer, RefusedWriteGives29AndKeepsWhatWasWritten) {
    StartAndOpen();
    BootProgrammerThroughHost();
    board->InjectFault(*ParseFault("refuse-write,nth=2", nullptr));
    const Bytes file = TestPattern(3000, 2);
    EXPECT_EQ(StreamWriteFile(WriteFile("img.mbn", file), session, 10, kAnySize), 29);
    EXPECT_NE(console.str().find("Device returned error: 13"), std::string::npos) << console.str();
    Bytes first(1024), second(1024);
    ASSERT_TRUE(board->ReadEmmc(10 * 512, first));
    ASSERT_TRUE(board->ReadEmmc(12 * 512, second));
    EXPECT_EQ(first, Bytes(file.begin(), file.begin() + 1024));
    EXPECT_EQ(second, Bytes(1024, 0)) << "the refused block and what follows are not written";
}

TEST_F(HostProgrammer, LogMessageReplyIsPrintedAndRefusesTheWrite) {
    StartAndOpen();
    BootProgrammerThroughHost();
    Fault log{FaultKind::kLogMessage, 0x07};
    log.text = "eMMC write protect";
    board->InjectFault(log);
    const uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(StreamWriteBlock(4, 0, session, data), 29);
    board->InjectFault(log);
    EXPECT_EQ(StreamWriteFile(WriteFile("x.mbn", Bytes(10, 1)), session, 0, kAnySize), 29);
    EXPECT_NE(console.str().find("Device returned error: 14"), std::string::npos);
    EXPECT_NE(console.str().find("eMMC write protect"), std::string::npos) << console.str();
}

TEST_F(HostProgrammer, CorruptFcsAndWrongCodeAreNotAnswers) {
    StartAndOpen();
    BootProgrammerThroughHost();
    board->InjectFault({FaultKind::kCorruptFcs});
    const uint8_t nopLike[] = {0x27};
    uint8_t reply[64];
    int replyLength = sizeof reply;
    ASSERT_EQ(Transact(nopLike, 1, link, reply, replyLength), 0);
    EXPECT_EQ(replyLength, 0) << "a reply with a wrong FCS is no reply";

    board->InjectFault({FaultKind::kWrongCode, kCmdRead});
    uint8_t read[kReadReplyCapacity];
    EXPECT_EQ(ReadData(16, read, session, 0), 6);
    EXPECT_EQ(ReadData(16, read, session, 0), 0);
}

TEST_F(HostProgrammer, TwoPhaseSdramExchangeAcrossTheReset) {
    const auto table = WriteFile("partition.txt", [] {
        Bytes t;
        for (const auto& [label, start] :
             {std::pair<std::string, uint32_t>{"PrimaryGPT", 1}, {"sbl2", 400}}) {
            Bytes r(80, 0);
            r[0] = static_cast<uint8_t>(start);
            r[1] = static_cast<uint8_t>(start >> 8);
            r[4] = 16;
            std::copy(label.begin(), label.end(), r.begin() + 16);
            t.insert(t.end(), r.begin(), r.end());
        }
        return t;
    }());
    options.partitionTxt = table;
    options.verdictRecord = "PASS";
    StartAndOpen();
    BootProgrammerThroughHost();
    // Phase 1: the test image into sbl2, CLOSE, RESET, port closed.
    ASSERT_EQ(StreamWriteFile(WriteFile("sbl2.mbn", TestPattern(2048, 4)), session, 400, kAnySize),
              0);
    ASSERT_EQ(ClosePartition(session), 0);
    ASSERT_EQ(ResetTarget(session), 0);
    ClosePort(link);
    // Phase 2: the board comes back in download mode; the verdict is at PrimaryGPT's start.
    ASSERT_TRUE(board->WaitUntil([&] { return OpenPort(link, options.portNumber) == 0; }, 3000));
    ASSERT_EQ(board->resets(), 1);
    BootProgrammerThroughHost();
    uint8_t reply[kReadReplyCapacity] = {};
    ASSERT_EQ(ReadData(4, reply, session, 1), 0);
    EXPECT_EQ(std::string(reply + 5, reply + 9), "PASS");
}

}  // namespace
}  // namespace veltrix::sim::testing
