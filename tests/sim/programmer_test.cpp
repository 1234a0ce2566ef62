// The simulated flash programmer over its real pseudo-terminal: the streaming commands against
// the sparse eMMC, the PMIC layouts, RESET with the SDRAM test image.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "link/fcs.h"
#include "sim/pmic_status.h"
#include "tests/sim/board_fixture.h"

namespace veltrix::sim::testing {
namespace {

class ProgrammerBoard : public BoardFixture {};

Bytes StreamWrite(uint32_t address, const Bytes& data) {
    Bytes w{0x07};
    AppendLe32(w, address);
    w.insert(w.end(), data.begin(), data.end());
    return w;
}

Bytes ReadRequest(uint32_t address, uint16_t length) {
    Bytes r{0x03};
    AppendLe32(r, address);
    r.push_back(static_cast<uint8_t>(length));
    r.push_back(static_cast<uint8_t>(length >> 8));
    return r;
}

Bytes PartitionInfoRequest() {
    Bytes r(38, 0);
    r[0] = 0x23;
    r[34] = 0xAD;
    r[35] = 0xDE;
    const uint16_t crc = Fcs16(std::span(r).subspan(1, 35));
    r[36] = static_cast<uint8_t>(crc);
    r[37] = static_cast<uint8_t>(crc >> 8);
    return r;
}

TEST_F(ProgrammerBoard, StreamWriteThenReadRoundTripsBySectorOnASparseEmmc) {
    StartBoard();
    auto host = Connect();
    BootProgrammer(*host);
    Bytes data(1024);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(0x7C + i % 4);  // 7C 7D 7E 7F: escapes both ways
    }
    const auto written = host->Exchange(StreamWrite(100, data));
    ASSERT_TRUE(written);
    EXPECT_EQ((*written)[0], 0x08);
    EXPECT_EQ(Le32At(*written, 1), 100u);

    for (uint32_t sector : {100u, 101u}) {
        const auto reply = host->Exchange(ReadRequest(sector, 512));
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->size(), 5u + 512u);
        EXPECT_EQ((*reply)[0], 0x04);
        EXPECT_EQ(Le32At(*reply, 1), sector);
        const size_t from = (sector - 100) * 512;
        EXPECT_EQ(Bytes(reply->begin() + 5, reply->end()),
                  Bytes(data.begin() + from, data.begin() + from + 512));
    }
    Bytes onDisk(1024);
    ASSERT_TRUE(board->ReadEmmc(100 * 512, onDisk));
    EXPECT_EQ(onDisk, data);

    struct stat st {};
    ASSERT_EQ(stat(board->emmcPath().c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), 64ull << 20);
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 1ull << 20);  // sparse
}

TEST_F(ProgrammerBoard, ByteAddressingForOtherImageTypesAndRangeChecks) {
    StartBoard();
    auto host = Connect();
    BootProgrammer(*host);
    ASSERT_EQ((*host->Exchange({0x1B, 0x0E}))[0], 0x1C);  // another image type: byte addresses
    ASSERT_EQ((*host->Exchange(StreamWrite(1000, {1, 2, 3})))[0], 0x08);
    Bytes got(3);
    ASSERT_TRUE(board->ReadEmmc(1000, got));
    EXPECT_EQ(got, (Bytes{1, 2, 3}));

    ASSERT_EQ((*host->Exchange({0x1B, 0x21}))[0], 0x1C);
    const uint32_t lastSector = (64u << 20) / 512 - 1;
    EXPECT_EQ((*host->Exchange(StreamWrite(lastSector, Bytes(512, 1))))[0], 0x08);
    const auto refused = host->Exchange(StreamWrite(lastSector, Bytes(513, 1)));
    ASSERT_TRUE(refused);
    EXPECT_EQ((*refused)[0], 0x0D);
    EXPECT_LE(refused->size() + 4, 32u) << "the error frame fits a 32-byte reply buffer";
    EXPECT_EQ((*host->Exchange(ReadRequest(lastSector + 1, 1)))[0], 0x0D);
    EXPECT_EQ((*host->Exchange(StreamWrite(0, Bytes(1025, 1))))[0], 0x0D);

    Bytes check{0x25};
    AppendLe32(check, 10);
    AppendLe32(check, 0x500000);
    EXPECT_EQ(host->Exchange(check), (Bytes{0x04, 10, 0, 0, 0}));
    Bytes tooFar{0x25};
    AppendLe32(tooFar, lastSector);
    AppendLe32(tooFar, 1024);
    EXPECT_EQ((*host->Exchange(tooFar))[0], 0x0D);
}

TEST_F(ProgrammerBoard, CommandsOutOfOrderAreRefused) {
    StartBoard();
    auto host = Connect();
    Bytes go{0x05};
    AppendBe32(go, 0);
    ASSERT_EQ(host->Exchange(go), Bytes{0x02});
    EXPECT_EQ((*host->Exchange({0x17, 0x00}))[0], 0x0D);  // before HELLO
    ASSERT_EQ((*host->Exchange(HelloRequest()))[0], 0x02);
    EXPECT_EQ((*host->Exchange(ReadRequest(0, 16)))[0], 0x0D);  // before OPEN MULTI-IMAGE
    ASSERT_EQ((*host->Exchange({0x1B, 0x21}))[0], 0x1C);
    EXPECT_EQ((*host->Exchange(ReadRequest(0, 16)))[0], 0x04);
    EXPECT_EQ(host->Exchange({0x15}), Bytes{0x16});
    EXPECT_EQ((*host->Exchange(ReadRequest(0, 16)))[0], 0x0D);  // after CLOSE
    Bytes badHello = HelloRequest();
    badHello[5] = 'x';
    EXPECT_EQ((*host->Exchange(badHello))[0], 0x0D);
}

TEST_F(ProgrammerBoard, PartitionInfoEraseAndReportedSectors) {
    options.reportedSectors = 0x80000001u;
    StartBoard();
    auto host = Connect();
    BootProgrammer(*host);
    const auto info = host->Exchange(PartitionInfoRequest());
    ASSERT_TRUE(info && info->size() >= 9);
    EXPECT_EQ((*info)[0], 0x24);
    EXPECT_EQ(Le32At(*info, 5), 0x80000001u);
    Bytes corrupt = PartitionInfoRequest();
    corrupt[36] ^= 1;
    EXPECT_EQ((*host->Exchange(corrupt))[0], 0x0D);

    ASSERT_EQ((*host->Exchange(StreamWrite(5, Bytes(512, 0xEE))))[0], 0x08);
    EXPECT_EQ(host->Exchange({0x1D}), Bytes{0x1E});
    Bytes after(512);
    ASSERT_TRUE(board->ReadEmmc(5 * 512, after));
    EXPECT_EQ(after, Bytes(512, 0));
}

TEST_F(ProgrammerBoard, PmicStatusLayoutPerFamilyAndPmicOn) {
    const std::pair<int, size_t> families[] = {{4, 35}, {5, 26}, {6, 33}, {7, 34}, {1, 5}};
    for (const auto& [family, count] : families) {
        const Bytes before = PmicStatusReply(family, false);
        const Bytes after = PmicStatusReply(family, true);
        ASSERT_EQ(before.size(), 1 + count) << family;
        EXPECT_EQ(before[0], 0x24);
        EXPECT_EQ(before[1] & 0x80, 0) << "the first regulator is off before PMIC ON";
        for (size_t i = 1; i < after.size(); ++i) {
            EXPECT_EQ(after[i] & 0x80, 0x80) << family << " byte " << i;
        }
    }
    options.pmicFamily = 6;
    StartBoard();
    auto host = Connect();
    BootProgrammer(*host);
    EXPECT_EQ(host->Exchange({0x27}), PmicStatusReply(6, false));
    EXPECT_EQ(host->Exchange({0x26}), PmicStatusReply(6, true));
    EXPECT_EQ(host->Exchange({0x27}), PmicStatusReply(6, true));
    EXPECT_TRUE(board->pmicOn());
}

void WritePartitionTxt(const std::filesystem::path& path,
                       const std::vector<std::pair<std::string, uint32_t>>& parts) {
    std::ofstream out(path, std::ios::binary);
    for (const auto& [label, start] : parts) {
        Bytes record(80, 0);
        for (int i = 0; i < 4; ++i) {
            record[i] = static_cast<uint8_t>(start >> (8 * i));
            record[4 + i] = static_cast<uint8_t>(uint32_t{64} >> (8 * i));
        }
        std::copy(label.begin(), label.end(), record.begin() + 16);
        const std::string file = label + ".mbn";
        std::copy(file.begin(), file.end(), record.begin() + 48);
        out.write(reinterpret_cast<const char*>(record.data()), 80);
    }
}

struct FamilyCase {
    int family;
    uint32_t bootSector;
    uint32_t verdictSector;
};

TEST_F(ProgrammerBoard, ResetAfterATestImageWritesTheVerdictAndComesBackInDownloadMode) {
    for (const FamilyCase c : {FamilyCase{1, 300, 34}, FamilyCase{2, 200, 100}}) {
        SCOPED_TRACE(c.family);
        const auto table = folder() / "partition.txt";
        WritePartitionTxt(table, {{"PrimaryGPT", 34},
                                  {"QCSBL", 100},
                                  {"OEMSBL1", 200},
                                  {"OEMSBL2", 264},
                                  {"SBL2", 300}});
        options.partitionTxt = table;
        options.loaderFamily = c.family;
        options.verdictRecord = "FAIL";
        StartBoard();
        auto host = Connect();
        BootProgrammer(*host);
        ASSERT_EQ((*host->Exchange(StreamWrite(c.bootSector, Bytes(1024, 0x5A))))[0], 0x08);
        ASSERT_EQ(host->Exchange({0x15}), Bytes{0x16});
        ASSERT_EQ(host->Exchange({0x0B}), Bytes{0x0C});
        host->Close();

        ASSERT_TRUE(board->WaitUntil([&] { return board->resets() == 1; }, 2000));
        ASSERT_TRUE(WaitForMode(BoardMode::kDloadRom));
        ASSERT_TRUE(board->WaitUntil([&] { return std::filesystem::exists(PortPath()); }, 2000));
        EXPECT_EQ(board->verdictsWritten(), 1);
        Bytes verdict(4);
        ASSERT_TRUE(board->ReadEmmc(uint64_t{c.verdictSector} * 512, verdict));
        EXPECT_EQ(verdict, Text("FAIL"));

        auto again = Connect();
        EXPECT_EQ(again->Exchange({0x06}), Bytes{0x02});
        again.reset();
        board.reset();
    }
}

TEST_F(ProgrammerBoard, RestoringTheBootImageAfterATestStopsTheNextResetFromTesting) {
    const auto table = folder() / "partition.txt";
    WritePartitionTxt(table, {{"sbl1", 40}});
    options.partitionTxt = table;
    options.loaderFamily = 0;
    options.boot = BootProtocol::kDload;
    StartBoard();
    for (int pass = 0; pass < 3; ++pass) {
        SCOPED_TRACE(pass);
        ASSERT_TRUE(board->WaitUntil([&] { return std::filesystem::exists(PortPath()); }, 2000));
        auto host = Connect();
        BootProgrammer(*host);
        if (pass < 2) {  // pass 0 writes the test image, pass 1 restores the boot image
            ASSERT_EQ((*host->Exchange(StreamWrite(40, Bytes(512, 0x11 * (pass + 1)))))[0], 0x08);
        }
        ASSERT_EQ(host->Exchange({0x0B}), Bytes{0x0C});
        host->Close();
        ASSERT_TRUE(board->WaitUntil([&] { return board->resets() == pass + 1; }, 2000));
        ASSERT_TRUE(WaitForMode(BoardMode::kDloadRom));
    }
    EXPECT_EQ(board->verdictsWritten(), 1);
    Bytes sbl1(512);
    ASSERT_TRUE(board->ReadEmmc(40 * 512, sbl1));
    EXPECT_EQ(sbl1, Bytes(512, 0x22));  // the restored image stays whole
}

}  // namespace
}  // namespace veltrix::sim::testing
