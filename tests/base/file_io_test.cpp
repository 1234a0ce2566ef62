// The one file-I/O place, built twice: with file descriptors (POSIX) and with C streams (the
// portable fallback, Windows' build). Both must write whole files or none, create their
// temporary files only anew, and name their failures alike.

#include <algorithm>
#include <cstdio>

#include "tests/base/file_io_fixture.h"

namespace veltrix {
namespace {

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
    EXPECT_EQ(Entries(), 1u);

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

// A folder at an output's name stays as it is; an input larger than allowed is refused unread.
TEST_F(FileIoTest, OnlyRegularFilesAreReplacedOrReadBounded) {
    fs::create_directory(dir_ / "folder");
    OutputFile out;
    EXPECT_EQ(out.Create(dir_ / "folder"), kErrorDirectory);
    EXPECT_EQ(out.errorText(), "a folder is there, not a regular file");
    std::ofstream(dir_ / "victim") << "precious";
    std::string text;
    EXPECT_EQ(ReadSmallFile(dir_ / "victim", 7, text), kErrorFileTooLarge);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(ReadSmallFile(dir_ / "victim", 8, text), kErrorSuccess);
    EXPECT_EQ(text, "precious");
    EXPECT_EQ(Entries(), 2u);
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
    EXPECT_EQ(Entries(), 1u);

    // Committing replaces the old file at once.
    OutputFile out;
    ASSERT_EQ(out.Create(path), kErrorSuccess);
    ASSERT_EQ(out.Write("new", 3), kErrorSuccess);
    ASSERT_EQ(out.Commit(/*sync=*/false), kErrorSuccess);
    EXPECT_EQ(ReadAll(path), "new");
}

// A temporary file is always a new file: an existing name is refused, never opened or truncated
// (O_EXCL, or CREATE_NEW on Windows), and two outputs to one name write files of their own.
TEST_F(FileIoTest, ExclusiveCreationRefusesAnExistingName) {
    const fs::path taken = dir_ / "taken";
    std::ofstream(taken) << "precious";
    std::string reason;
    EXPECT_EQ(CreateNewFile(taken, &reason), kErrorFileExists);
    EXPECT_EQ(reason, "File exists");
    EXPECT_EQ(ReadAll(taken), "precious");
    EXPECT_EQ(CreateNewFile(dir_ / "new"), kErrorSuccess);
    EXPECT_EQ(CreateNewFile(dir_ / "new"), kErrorFileExists);
    EXPECT_EQ(fs::file_size(dir_ / "new"), 0u);

    OutputFile first, second;
    ASSERT_EQ(first.Create(taken), kErrorSuccess);
    ASSERT_EQ(second.Create(taken), kErrorSuccess);
    EXPECT_NE(first.temporaryPath(), second.temporaryPath());
    ASSERT_EQ(first.Write("first", 5), kErrorSuccess);
    ASSERT_EQ(second.Write("second", 6), kErrorSuccess);
    ASSERT_EQ(first.Commit(false), kErrorSuccess);
    EXPECT_EQ(ReadAll(taken), "first");
    ASSERT_EQ(second.Commit(false), kErrorSuccess);
    EXPECT_EQ(ReadAll(taken), "second");
    EXPECT_EQ(Entries(), 2u);
}

// A name that a file system takes, however long, can be written: the temporary name beside it
// is cut to fit, never the final one.
TEST_F(FileIoTest, NamesUpToTheLimitCanBeWritten) {
    for (const std::string& name : {std::string(250, 'r'), std::string(255, 'r'),
                                    std::string(240, 'r') + "\xED\x95\x9C\xEA\xB8\x80"
                                                            "\xED\x95\x9C\xEA\xB8\x80"}) {
        SCOPED_TRACE(name.size());
        const fs::path path = dir_ / fs::path(std::u8string(name.begin(), name.end()));
        OutputFile out;
        ASSERT_EQ(out.Create(path), kErrorSuccess) << out.errorText();
        EXPECT_LE(out.temporaryPath().filename().u8string().size(), 255u);
        ASSERT_EQ(out.Write("record", 6), kErrorSuccess);
        ASSERT_EQ(out.Commit(false), kErrorSuccess) << out.errorText();
        EXPECT_EQ(ReadAll(path), "record");
        fs::remove(path);
    }
    EXPECT_EQ(Entries(), 0u);
}

// A folder is held by one holder at a time, and free again once released.
TEST_F(FileIoTest, FolderLockHasOneHolderAtATime) {
    FolderLock first, second;
    ASSERT_EQ(first.Acquire(dir_), kErrorSuccess);
    EXPECT_EQ(second.Acquire(dir_), kErrorLockViolation);
    EXPECT_EQ(second.errorText(), "another program holds it");
    first.Release();
    EXPECT_EQ(second.Acquire(dir_), kErrorSuccess);
    EXPECT_NE(first.Acquire(dir_ / "missing"), kErrorSuccess);
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
