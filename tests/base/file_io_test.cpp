// The one file-I/O place, built twice: with file descriptors (POSIX) and with C streams (the
// portable fallback). Both must write whole files or none, and name their failures alike.

#include "base/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
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

// Runs of one byte value are data, not holes, unless the value is zero; a block of zeros with
// one other byte at either end is data too; a file that ends in a run of zeros still has its
// whole length.
TEST_F(FileIoTest, RepeatedBytesAndTrailingZerosComeBackAsWritten) {
    const fs::path path = dir_ / "sbl1.dump";
    const std::string expected = std::string(4096, '\xFF') + std::string(4096, '\x01') +
                                 std::string(511, '\0') + '\x02' + '\x03' + std::string(511, '\0') +
                                 std::string(9000, '\0');
    OutputFile out;
    ASSERT_EQ(out.Create(path), kErrorSuccess);
    for (size_t at = 0; at < expected.size(); at += 512) {
        const size_t n = std::min<size_t>(512, expected.size() - at);
        ASSERT_EQ(out.Write(expected.data() + at, n), kErrorSuccess);
    }
    ASSERT_EQ(out.Commit(false), kErrorSuccess);
    EXPECT_EQ(fs::file_size(path), expected.size());
    EXPECT_EQ(ReadAll(path), expected);
}

// An output replaces a regular file or nothing: a link, a FIFO or a folder at its name stays as
// it is, whether it was there at Create or appeared before Commit. An input that is not a regular
// file (it may never end), or is larger than allowed, is refused without being read.
TEST_F(FileIoTest, OnlyRegularFilesAreReplacedOrReadBounded) {
    const fs::path victim = dir_ / "victim";
    std::ofstream(victim) << "precious";
    const fs::path link = dir_ / "link";
    fs::create_symlink(victim, link);
    const fs::path fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path folder = dir_ / "folder";
    fs::create_directory(folder);
    const struct {
        fs::path path;
        int code;
        const char* what;
    } planted[] = {{link, kErrorNotRegularFile, "a symbolic link"},
                   {fifo, kErrorNotRegularFile, "a FIFO"},
                   {folder, kErrorDirectory, "a folder"}};
    for (const auto& p : planted) {
        SCOPED_TRACE(p.what);
        OutputFile out;
        EXPECT_EQ(out.Create(p.path), p.code);
        EXPECT_NE(out.errorText().find(p.what), std::string::npos) << out.errorText();
    }
    OutputFile late;
    ASSERT_EQ(late.Create(dir_ / "late"), kErrorSuccess);
    ASSERT_EQ(late.Write("new", 3), kErrorSuccess);
    fs::create_symlink(victim, dir_ / "late");
    EXPECT_EQ(late.Commit(false), kErrorNotRegularFile);
    EXPECT_TRUE(fs::is_symlink(dir_ / "late"));
    EXPECT_EQ(ReadAll(victim), "precious");

    std::string text;
    EXPECT_EQ(ReadSmallFile(fifo, 100, text), kErrorNotRegularFile);
    EXPECT_EQ(ReadSmallFile("/dev/zero", 100, text), kErrorNotRegularFile);
    EXPECT_EQ(ReadSmallFile(victim, 7, text), kErrorFileTooLarge);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(ReadSmallFile(link, 8, text), kErrorSuccess);  // a link to a regular file is read
    EXPECT_EQ(text, "precious");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 5);
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
