// The file-I/O place among what only POSIX systems let a test plant: symbolic links, FIFOs and
// devices. An output replaces a regular file or nothing: a link, a FIFO or a folder at its name
// stays as it is, whether it was there at Create or appeared before Commit. An input that is
// not a regular file (it may never end) is refused without being read.

#include <sys/stat.h>

#include "tests/base/file_io_fixture.h"

namespace veltrix {
namespace {

TEST_F(FileIoTest, LinksFifosAndDevicesAreNeitherReplacedNorRead) {
    const fs::path victim = dir_ / "victim";
    std::ofstream(victim) << "precious";
    const fs::path link = dir_ / "link";
    fs::create_symlink(victim, link);
    const fs::path fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        fs::path path;
        const char* what;
    } planted[] = {{link, "a symbolic link"}, {fifo, "a FIFO"}};
    for (const auto& p : planted) {
        SCOPED_TRACE(p.what);
        OutputFile out;
        EXPECT_EQ(out.Create(p.path), kErrorNotRegularFile);
        EXPECT_NE(out.errorText().find(p.what), std::string::npos) << out.errorText();
    }
    EXPECT_EQ(CreateNewFile(link), kErrorFileExists);  // not followed
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
    EXPECT_EQ(ReadSmallFile(link, 8, text), kErrorSuccess);  // a link to a regular file is read
    EXPECT_EQ(text, "precious");
    EXPECT_EQ(Entries(), 4u);
}

}  // namespace
}  // namespace veltrix
