// When the simulated board runs its SDRAM test at a reset, and where the verdict lands.

#include "sim/sdram_test_image.h"

#include <gtest/gtest.h>

#include <fstream>

namespace veltrix::sim {
namespace {

class SdramTestImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/veltrix-sdram-test-XXXXXX";
        folder_ = mkdtemp(templ);
        std::ofstream out(folder_ / "partition.txt", std::ios::binary);
        for (const auto& [label, start] :
             {std::pair<std::string, uint32_t>{"sbl1", 10}, {"PrimaryGPT", 1}, {"sbl2", 20}}) {
            std::vector<char> r(80, 0);
            r[0] = static_cast<char>(start);
            r[4] = 8;
            std::copy(label.begin(), label.end(), r.begin() + 16);
            out.write(r.data(), 80);
        }
        out.close();
        options.partitionTxt = folder_ / "partition.txt";
        std::string error;
        ASSERT_TRUE(emmc.Open({}, 1 << 20, &error)) << error;
    }
    void TearDown() override {
        emmc.Close();
        std::filesystem::remove_all(folder_);
    }
    void WriteBoot(uint32_t sector, uint8_t fill) {
        const std::vector<uint8_t> data(512, fill);
        ASSERT_TRUE(emmc.Write(uint64_t{sector} * 512, data));
        image.NoteWrite(uint64_t{sector} * 512, data.size());
    }
    std::string Record(uint32_t sector) {
        std::vector<uint8_t> b(4);
        EXPECT_TRUE(emmc.Read(uint64_t{sector} * 512, b));
        return std::string(b.begin(), b.end());
    }

    BoardOptions options;
    EmmcImage emmc;
    SdramTestImage image;
    std::filesystem::path folder_;
};

TEST_F(SdramTestImageTest, FamilyOneTestsAfterASbl2WriteUntilTheBootImageIsRestored) {
    options.loaderFamily = 1;
    options.verdictRecord = "Pass";
    std::string error;
    ASSERT_TRUE(image.Configure(options, &error)) << error;
    EXPECT_FALSE(image.RunAtReset(emmc)) << "nothing written yet";
    WriteBoot(21, 0x33);  // not the first sector of sbl2
    EXPECT_FALSE(image.RunAtReset(emmc));
    WriteBoot(20, 0x44);
    EXPECT_TRUE(image.RunAtReset(emmc));
    EXPECT_EQ(Record(1), "Pass");
    EXPECT_TRUE(image.RunAtReset(emmc)) << "the test image is still the boot image";
    WriteBoot(20, 0x55);  // restored
    EXPECT_FALSE(image.RunAtReset(emmc));
}

TEST_F(SdramTestImageTest, WithATestImageOnlyItsContentBootsTheTest) {
    options.loaderFamily = 0;
    options.verdictRecord = "FAIL";
    const std::vector<char> test(700, 0x77);
    std::ofstream(folder_ / "sbl1.mbn", std::ios::binary).write(test.data(), 700);
    options.sdramTestImagePath = folder_ / "sbl1.mbn";
    std::string error;
    ASSERT_TRUE(image.Configure(options, &error)) << error;
    WriteBoot(10, 0x11);  // a real boot image: no test
    EXPECT_FALSE(image.RunAtReset(emmc));
    WriteBoot(10, 0x77);
    EXPECT_TRUE(image.RunAtReset(emmc));
    EXPECT_EQ(Record(10), "FAIL") << "family 0 writes its verdict over the start of sbl1";
    EXPECT_FALSE(image.RunAtReset(emmc)) << "the verdict changed the image's first bytes";
}

TEST_F(SdramTestImageTest, MissingPartitionsOrFilesAreReported) {
    options.partitionTxt = folder_ / "missing.txt";
    std::string error;
    EXPECT_FALSE(image.Configure(options, &error));
    EXPECT_NE(error.find("missing.txt"), std::string::npos);
    options.partitionTxt = folder_ / "partition.txt";
    options.loaderFamily = 2;  // OEMSBL1 / QCSBL are not in the table
    ASSERT_TRUE(image.Configure(options, &error));
    WriteBoot(10, 1);
    EXPECT_FALSE(image.RunAtReset(emmc));
    options.verdictRecord = std::string(513, 'x');
    EXPECT_FALSE(image.Configure(options, &error));
}

}  // namespace
}  // namespace veltrix::sim
