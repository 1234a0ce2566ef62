// The simulator's own readers: partition.txt records, sizes and the command line.

#include <gtest/gtest.h>

#include "sim/partition_table.h"
#include "sim/sdram_test_image.h"
#include "sim/sim_command_line.h"

namespace veltrix::sim {
namespace {

std::vector<uint8_t> Record(uint32_t start, uint32_t count, const std::string& label) {
    std::vector<uint8_t> r(80, 0);
    for (int i = 0; i < 4; ++i) {
        r[i] = static_cast<uint8_t>(start >> (8 * i));
        r[4 + i] = static_cast<uint8_t>(count >> (8 * i));
    }
    std::copy(label.begin(), label.begin() + std::min<size_t>(label.size(), 32), r.begin() + 16);
    return r;
}

TEST(PartitionTxt, WholeRecordsOnlyLabelsCutAtZeroOrField) {
    std::vector<uint8_t> bytes;
    for (const auto& r : {Record(34, 33, "PrimaryGPT"), Record(0xFFFFFFF0, 2, "SBL1"),
                          Record(7, 1, std::string(32, 'L'))}) {
        bytes.insert(bytes.end(), r.begin(), r.end());
    }
    bytes.resize(bytes.size() + 79, 0x41);  // a partial fourth record
    const auto table = ParsePartitionTxt(bytes);
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[1].startSector, 0xFFFFFFF0u);
    EXPECT_EQ(table[1].sectorCount, 2u);
    EXPECT_EQ(table[2].label, std::string(32, 'L'));  // no zero byte: the field ends it
    EXPECT_EQ(FindPartition(table, "sbl1"), &table[1]);
    EXPECT_EQ(FindPartition(table, "PRIMARYGPT"), &table[0]);
    EXPECT_EQ(FindPartition(table, "sbl2"), nullptr);
}

TEST(SdramPartitions, PerLoaderFamily) {
    EXPECT_STREQ(SdramPartitionsFor(0).boot, "sbl1");
    EXPECT_STREQ(SdramPartitionsFor(0).verdict, "sbl1");
    EXPECT_STREQ(SdramPartitionsFor(2).boot, "OEMSBL1");
    EXPECT_STREQ(SdramPartitionsFor(2).verdict, "QCSBL");
    EXPECT_STREQ(SdramPartitionsFor(1).boot, "sbl2");
    EXPECT_STREQ(SdramPartitionsFor(1).verdict, "PrimaryGPT");
}

TEST(ParseByteSize, SuffixesAndBases) {
    EXPECT_EQ(ParseByteSize("4096"), 4096u);
    EXPECT_EQ(ParseByteSize("0x1000"), 4096u);
    EXPECT_EQ(ParseByteSize("64K"), 65536u);
    EXPECT_EQ(ParseByteSize("16M"), 16u << 20);
    EXPECT_EQ(ParseByteSize("4G"), 4ull << 30);
    for (const char* bad : {"", "G", "12Q", "-5", "0x", "99999999999999999999"}) {
        EXPECT_FALSE(ParseByteSize(bad)) << bad;
    }
}

TEST(SimCommandLine, OptionsReachTheBoard) {
    const char* argv[] = {"veltrix-sim",
                          "--port",
                          "4",
                          "--loader-family",
                          "0",
                          "--emmc-size",
                          "8M",
                          "--sahara-request",
                          "0x100:0x5000",
                          "--fault",
                          "silence,count=2",
                          "--ddr-verdict",
                          "0",
                          "--verdict",
                          "FAIL",
                          "--boot",
                          "dload"};
    int code = -1;
    std::string message;
    const auto line = ParseSimCommandLine(static_cast<int>(std::size(argv)), argv, &code, &message);
    ASSERT_TRUE(line) << message;
    const BoardOptions& o = line->options;
    EXPECT_EQ(o.portNumber, 4);
    EXPECT_EQ(o.loaderFamily, 0);
    EXPECT_EQ(o.boot, BootProtocol::kDload);
    EXPECT_EQ(o.emmcSize, 8u << 20);
    ASSERT_EQ(o.saharaRequests.size(), 1u);
    EXPECT_EQ(o.saharaRequests[0].offset, 0x100u);
    EXPECT_EQ(o.saharaRequests[0].length, 0x5000u);
    ASSERT_EQ(o.faults.size(), 1u);
    EXPECT_EQ(o.faults[0].count, 2);
    EXPECT_EQ(o.ddrVerdict, '0');
    EXPECT_EQ(o.verdictRecord, "FAIL");
}

TEST(SimCommandLine, HelpAndErrors) {
    int code = -1;
    std::string message;
    const char* help[] = {"veltrix-sim", "--help"};
    EXPECT_FALSE(ParseSimCommandLine(2, help, &code, &message));
    EXPECT_EQ(code, 0);
    EXPECT_NE(message.find("--fault"), std::string::npos);
    for (const char* bad : {"--emmc-size=1000", "--fault=boom", "--sahara-request=12",
                            "--pmic-family=3", "--ddr-verdict=10"}) {
        const char* argv[] = {"veltrix-sim", bad};
        EXPECT_FALSE(ParseSimCommandLine(2, argv, &code, &message)) << bad;
        EXPECT_NE(code, 0) << bad;
    }
}

}  // namespace
}  // namespace veltrix::sim
