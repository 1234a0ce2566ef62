// The one file-I/O place, built twice: with file descriptors (POSIX) and with C streams (the
// portable fallback). Both must write whole files or none, and name their failures alike.

#include "base/file_io.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/result_codes.h"

namespace veltrix {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FileIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("veltrix-file-io-" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(FileIoTest, AFileAppearsWholeOnlyWhenCommitted) {
    const fs::path path = dir_ / "boot.mbn";
    {
        OutputFile out;
        ASSERT_EQ(out.Create(path), kErrorSuccess);
        ASSERT_EQ(out.Write("head", 4), kErrorSuccess);
        ASSERT_EQ(out.AppendZeros(70000), kErrorSuccess);  // a hole where the system has them
        ASSERT_EQ(out.Write(std::string(3, '\0').data(), 3), kErrorSuccess);
        ASSERT_EQ(out.Write("tail", 4), kErrorSuccess);
        EXPECT_FALSE(fs::exists(path));
        ASSERT_EQ(out.Commit(/*sync=*/true), kErrorSuccess);
    }
    const std::string expected = "head" + std::string(70003, '\0') + "tail";
    EXPECT_EQ(ReadAll(path), expected);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    InputFile in;
    ASSERT_EQ(in.Open(path), kErrorSuccess);
    std::string back(expected.size() + 10, 'x');
    EXPECT_EQ(in.ReadFull(back.data(), back.size()), static_cast<long long>(expected.size()));
    EXPECT_EQ(back.substr(0, expected.size()), expected);
    EXPECT_EQ(in.ReadFull(back.data(), 1), 0);  // the end, not an error
}

TEST_F(FileIoTest, AnUncommittedFileLeavesTheOldOneAndNoLitter) {
    const fs::path path = dir_ / "partition.txt";
    std::ofstream(path) << "old index";
    {
        OutputFile out;
        ASSERT_EQ(out.Create(path), kErrorSuccess);
        ASSERT_EQ(out.Write("new", 3), kErrorSuccess);
    }  // dropped without Commit, as after a failed write
    EXPECT_EQ(ReadAll(path), "old index");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    // Committing replaces the old file at once.
    OutputFile out;
    ASSERT_EQ(out.Create(path), kErrorSuccess);
    ASSERT_EQ(out.Write("new", 3), kErrorSuccess);
    ASSERT_EQ(out.Commit(/*sync=*/false), kErrorSuccess);
    EXPECT_EQ(ReadAll(path), "new");
}

TEST_F(FileIoTest, FailuresCarryNamedCodesAndTheSystemsWords) {
    InputFile in;
    EXPECT_EQ(in.Open(dir_ / "missing.bin"), kErrorFileNotFound);
    EXPECT_EQ(in.errorText(), "No such file or directory");
    EXPECT_FALSE(in.IsOpen());
    EXPECT_EQ(in.Open(dir_), kErrorDirectory);  // a folder is no image
    EXPECT_FALSE(in.IsOpen());
    char byte;
    EXPECT_EQ(in.ReadFull(&byte, 1), -1);

    OutputFile out;
    EXPECT_EQ(out.Create(dir_ / "no" / "such" / "a.mbn"), kErrorFileNotFound);
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(out.errorText(), "No such file or directory");
    EXPECT_NE(out.Commit(false), kErrorSuccess);

    EXPECT_EQ(OpenCFile(dir_, "rb"), nullptr);
    std::ofstream(dir_ / "a.hex") << ":00000001FF\n";
    std::FILE* file = OpenCFile(dir_ / "a.hex", "rb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
}

}  // namespace
}  // namespace veltrix
