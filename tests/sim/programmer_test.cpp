// The simulated flash programmer over its real pseudo-terminal: the streaming commands against
// the sparse eMMC, RESET with the SDRAM test image.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

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

}  // namespace
}  // namespace veltrix::sim::testing
