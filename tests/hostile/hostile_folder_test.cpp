// The image extraction in folders that fight back, with what only POSIX lets a test plant or
// impose: links planted where the output goes, a read-only folder, a full disk, file-size limits,
// names the system cannot take; and inputs that are pipes. Whatever happens, nothing outside the
// output folder changes, no temporary file stays, and a folder whose extraction failed holds no
// index.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/file_io.h"
#include "base/result_codes.h"
#include "layout/image_extraction.h"
#include "layout/partition_index.h"
#include "layout/partition_txt.h"
#include "layout/program_list.h"
#include "tests/support/extraction_folder.h"

namespace veltrix::testing {
namespace {

namespace fs = std::filesystem;

const Bytes kPrecious = Noise(64, 7);

// Runs `body` in a child process with a mount namespace of its own, where `mountPoint` is a fresh
// tmpfs with `options` (and `flags`). Gone with the child, so a failing test leaves no mount.
// The child's gtest failures print there and make it exit 1. False (with `why`) when this
// system does not let the test have a namespace.
bool RunOnPrivateTmpfs(const fs::path& mountPoint, unsigned long flags, const char* options,
                       const std::function<void()>& body, std::string* why) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        *why = "no pipe";
        return false;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        char ready = 'n';
        if (::unshare(CLONE_NEWNS) == 0 &&
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            ::mount("tmpfs", mountPoint.c_str(), "tmpfs", flags, options) == 0) {
            ready = 'y';
        }
        (void)!::write(pipeFds[1], &ready, 1);
        ::close(pipeFds[1]);
        if (ready != 'y') {
            ::_exit(0);
        }
        body();
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    ::close(pipeFds[1]);
    char ready = 'n';
    (void)!::read(pipeFds[0], &ready, 1);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (ready != 'y') {
        *why = "this system gives no private mount namespace with a tmpfs (needs CAP_SYS_ADMIN)";
        return false;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "see the child's failures above";
    return true;
}

class HostileFolderTest : public ExtractionFolder {
protected:
    HostileFolderTest() { WriteBytes(victim, kPrecious); }
    // Nothing beside the output folder changed: the image, the victim and the folder itself.
    void ExpectOutsideUntouched() {
        EXPECT_EQ(ListFolder(dir.path()), (Lines{"out", "total.bin", "victim"}));
        EXPECT_EQ(ReadBytes(victim), kPrecious);
    }

    fs::path victim = dir / "victim";
};

// Links at the old fixed temporary names are never written through; a link, a FIFO or a folder
// at a final name or at the index is never replaced: the extraction is refused before anything is
// written, and whatever was planted, and the earlier extraction's files, stay as they were.
TEST_F(HostileFolderTest, PlantedLinksAreNeverWrittenThroughNorReplaced) {
    fs::create_symlink(victim, out / "a.mbn.tmp");
    fs::create_symlink(victim, out / "partition.txt.tmp");
    fs::create_symlink(dir / "created-through-link", out / "b.mbn.tmp");  // dangling
    ASSERT_EQ(Extract({{{1, 2, "a"}, {3, 1, "b"}}}), kErrorSuccess);
    ExpectOutsideUntouched();
    EXPECT_EQ(ReadBytes(out / "a.mbn"), RecordData(0, 0, 2 * 512));
    EXPECT_EQ(fs::file_size(out / "partition.txt"), 2 * kPartitionTxtRecordSize);
    EXPECT_EQ(fs::read_symlink(out / "a.mbn.tmp"), victim);
    EXPECT_EQ(fs::read_symlink(out / "b.mbn.tmp"), dir / "created-through-link");

    const Bytes index = ReadBytes(out / "partition.txt");
    for (const auto& plant : std::vector<std::function<void(const fs::path&)>>{
             [&](const fs::path& at) { fs::create_symlink(victim, at); },
             [&](const fs::path& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); },
             [&](const fs::path& at) { fs::create_directory(at); }}) {
        fs::remove(out / "b.mbn");
        plant(out / "b.mbn");
        const auto planted = fs::symlink_status(out / "b.mbn").type();
        EXPECT_NE(Extract({{{1, 2, "a"}, {3, 1, "b"}}}), kErrorSuccess);
        EXPECT_EQ(fs::symlink_status(out / "b.mbn").type(), planted);
        EXPECT_EQ(ReadBytes(out / "partition.txt"), index);
        EXPECT_EQ(ReadBytes(out / "a.mbn"), RecordData(0, 0, 2 * 512));
        ExpectOutsideUntouched();
        fs::remove(out / "b.mbn");
    }
}

// Every output file starts as a new file under a name of its own, never an existing one.
TEST_F(HostileFolderTest, TemporaryFilesAreAlwaysNew) {
    const fs::path target = out / "x.dump";
    fs::create_symlink(victim, out / "x.dump.tmp");
    std::vector<fs::path> seen;
    for (int i = 0; i < 20; ++i) {
        OutputFile file;
        ASSERT_EQ(file.Create(target), 0);
        const fs::path temp = file.temporaryPath();
        EXPECT_EQ(temp.parent_path(), out);
        EXPECT_TRUE(temp.filename().string().starts_with("x.dump."));
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(temp)));
        EXPECT_EQ(std::find(seen.begin(), seen.end(), temp), seen.end());
        seen.push_back(temp);
        ASSERT_EQ(file.Write("abc", 3), 0);
        file.Discard();
        EXPECT_FALSE(fs::exists(temp));
    }
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(ReadBytes(victim), kPrecious);
}

// A link at an output name that points to the image is not replaced; the image is not touched.
TEST_F(HostileFolderTest, LinkToTheImageAtAnOutputNameIsRefused) {
    WriteTotalImage(bin, {{{2, 2, "boot"}}});
    const Bytes before = ReadBytes(bin);
    fs::create_symlink(bin, out / "boot.mbn");
    EXPECT_NE(Run(out / "boot.mbn", out), kErrorSuccess);
    EXPECT_EQ(ReadBytes(bin), before);
    EXPECT_EQ(fs::read_symlink(out / "boot.mbn"), bin);
}

// A read-only folder: permission bits do not stop root, so the folder is a read-only tmpfs in a
// mount namespace of the test's own; without one, a non-root user gets a folder without write
// permission instead.
TEST_F(HostileFolderTest, ReadOnlyFolderFailsWithTheSystemsWords) {
    WriteTotalImage(bin, {{{1, 1, "a"}}});
    const auto check = [&] {
        EXPECT_EQ(Run(bin, out), kErrorWriteFault);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(lines[0].starts_with("Write Fail " + (out / "a.mbn").string() + " ("))
            << lines[0];
        EXPECT_TRUE(messages.empty());
        EXPECT_TRUE(ListFolder(out).empty());
        ExpectOutsideUntouched();
    };
    std::string why;
    if (RunOnPrivateTmpfs(out, MS_RDONLY, "size=1m", check, &why)) {
        return;
    }
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes through permission bits and " << why;
    }
    fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec);
    check();
    fs::permissions(out, fs::perms::owner_all);
}

// A disk that fills up in the middle of a partition: the partition's file is not left half
// written, the files before it stay, no index is written, no temporary file stays.
TEST_F(HostileFolderTest, FullDiskLeavesNoPartialFileAndNoIndex) {
    WriteTotalImage(bin, {{{1, 1, "a"}, {2, 512, "big"}, {600, 1, "c"}}});
    const auto check = [&] {
        WriteText(out / "partition.txt", "old index");
        EXPECT_EQ(Run(bin, out), kErrorWriteFault);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[1], "a -- 0x100200_0x0");
        EXPECT_EQ(lines[2],
                  "Write Fail " + (out / "big.mbn").string() + " (No space left on device)");
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(ListFolder(out), Lines{"a.mbn"});
        ExpectOutsideUntouched();
    };
    std::string why;
    if (!RunOnPrivateTmpfs(out, 0, "size=128k", check, &why)) {
        GTEST_SKIP() << why << "; the file-size limit case below stands in for a full disk";
    }
}

// A partition's file and partition.txt are written whole or not at all: a file-size limit (in a
// child, so the limit and its signal stay there) stops each in the middle, and a file written
// earlier stays as it was.
TEST_F(HostileFolderTest, FilesCutByAFileSizeLimitAreNotLeftBehind) {
    TotalImage image;
    for (int i = 0; i < 300; ++i) {
        image.records.push_back(
            {static_cast<uint32_t>(i), 0, std::string("p").append(std::to_string(i))});
    }
    WriteTotalImage(bin, image);
    const fs::path big = dir / "big.bin";
    WriteTotalImage(big, {{{1, 1, "a"}, {2, 256, "big"}}});
    WriteText(out / "big.mbn", "old");
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16 * 1024, 16 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        EXPECT_EQ(Run(big, out), kErrorWriteFault);
        EXPECT_EQ(lines, (Lines{"a -- 0x100200_0x0",
                                "Write Fail " + (out / "big.mbn").string() + " (File too large)"}));
        EXPECT_EQ(ReadBytes(out / "big.mbn"), (Bytes{'o', 'l', 'd'}));
        fs::remove(out / "big.mbn");
        fs::remove(out / "a.mbn");
        fs::remove(big);
        EXPECT_EQ(Run(bin, out), kErrorWriteFault);
        EXPECT_EQ(lines.back(),
                  "Write Fail " + (out / "partition.txt").string() + " (File too large)");
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fs::exists(out / "partition.txt"));
    const Lines names = ListFolder(out);
    EXPECT_EQ(names.size(), 300u);  // the partitions' files, no temporary file
    EXPECT_TRUE(std::none_of(names.begin(), names.end(),
                             [](const std::string& n) { return n.ends_with(".tmp"); }));
    ExpectOutsideUntouched();
}

// Names the system cannot take: a folder path longer than the system allows fails with its
// words; Latin-1 names become UTF-8 file names while partition.txt keeps their bytes.
TEST_F(HostileFolderTest, NamesTheSystemCannotTake) {
    const fs::path tooLong = out / std::string(300, 'n');
    WriteTotalImage(bin, {{{1, 1, "a"}}});
    EXPECT_EQ(Run(bin, tooLong), kErrorWriteFault);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with("(File name too long)")) << lines[0];
    EXPECT_TRUE(ListFolder(out).empty());

    ASSERT_EQ(Extract({{{1, 1, "caf\xE9"}, {2, 1, "a:b*c?"}}}), kErrorSuccess);
    EXPECT_EQ(ListFolder(out), (Lines{"a:b*c?.mbn", "caf\xC3\xA9.mbn", "partition.txt"}));
    const Bytes index = ReadBytes(out / "partition.txt");
    EXPECT_EQ(Bytes(index.begin() + 16, index.begin() + 21), (Bytes{'c', 'a', 'f', 0xE9, 0}));
    ExpectOutsideUntouched();
}

// A pipe cannot be copied by the kernel file to file, so the data goes through the buffer.
TEST_F(HostileFolderTest, ImageFromAPipeGivesTheSameFiles) {
    WriteTotalImage(bin, {{{1000, 2100, "system"}, {3200, 7, "system"}, {9000, 3, "boot"}}});
    const Bytes bytes = ReadBytes(bin);
    const fs::path pipe = dir / "pipe.bin";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // The writer is connected before the extraction opens the pipe (which never waits for one):
    // a reader of the test's own lets the write end open at once.
    const int keeper = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    const int writeEnd = ::open(pipe.c_str(), O_WRONLY);
    ASSERT_GE(writeEnd, 0);
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    std::thread writer([&] {
        for (size_t at = 0; at < bytes.size();) {
            const ssize_t n = ::write(writeEnd, bytes.data() + at, bytes.size() - at);
            if (n <= 0) {
                break;
            }
            at += static_cast<size_t>(n);
        }
        ::close(writeEnd);
    });
    const int result = Run(pipe, out);
    ::close(keeper);  // a writer still going gets EPIPE now
    writer.join();
    std::signal(SIGPIPE, previous);
    ASSERT_EQ(result, kErrorSuccess);
    EXPECT_EQ(ReadBytes(out / "system.mbn"),
              Join({RecordData(0, 0, 2100 * 512), Bytes(100 * 512), RecordData(1, 0, 7 * 512)}));
    EXPECT_EQ(ReadBytes(out / "boot.mbn"), RecordData(2, 0, 3 * 512));
    EXPECT_EQ(lines, (Lines{"system -- 0x206800_0x0", "system -- 0x207600_0x834",
                            "boot -- 0x207c00_0x83b"}));
}

TEST_F(HostileFolderTest, ZeroGapOf4GiBIsLeftAsAHole) {
    ASSERT_EQ(Extract({{{0, 1, "gap"}, {0x800001, 1, "gap"}}}), kErrorSuccess);
    const uint64_t size = 0x100000000u + 2 * 512;
    ASSERT_EQ(fs::file_size(out / "gap.mbn"), size);
    struct stat info {};
    ASSERT_EQ(::stat((out / "gap.mbn").c_str(), &info), 0);
    EXPECT_LT(info.st_blocks, 1024);
    std::ifstream file(out / "gap.mbn", std::ios::binary);
    Bytes head(512), middle(512), tail(512);
    file.read(reinterpret_cast<char*>(head.data()), 512);
    file.seekg(0x80000000);
    file.read(reinterpret_cast<char*>(middle.data()), 512);
    file.seekg(static_cast<std::streamoff>(size - 512));
    file.read(reinterpret_cast<char*>(tail.data()), 512);
    EXPECT_EQ(head, RecordData(0, 0, 512));
    EXPECT_EQ(middle, Bytes(512));
    EXPECT_EQ(tail, RecordData(1, 0, 512));
}

// A partition.txt that is not a regular file is no index (a link to /dev/zero would read as 1024
// empty partitions, a FIFO may never end): the index stays empty and the message says what it is.
TEST_F(HostileFolderTest, PartitionTxtThatIsNotARegularFileIsNoIndex) {
    const fs::path index = out / "partition.txt";
    const struct {
        std::function<void()> plant;
        const char* message;
    } cases[] = {
        {[&] { fs::create_symlink("/dev/zero", index); },
         "partition.txt is a device, not a regular file.  "},
        {[&] { ASSERT_EQ(::mkfifo(index.c_str(), 0600), 0); },
         "partition.txt is a FIFO, not a regular file.  "},
        {[&] { fs::create_directory(index); }, "partition.txt is a folder, not a regular file.  "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        fs::remove(index);
        c.plant();
        PartitionIndex partitions;
        RecordingView view;
        EXPECT_EQ(LoadPartitionIndex(partitions, out, view), kErrorReadFault);
        EXPECT_EQ(partitions.imagePartitionCount, 0u);
        EXPECT_EQ(view.Messages(), Lines{c.message});
    }
}

// A rawprogram0.xml that is a FIFO would never end: it is refused, the list kept as it was.
TEST_F(HostileFolderTest, ProgramListThatIsAFifoIsRefused) {
    std::ostringstream console;
    ProgramList list;
    list.console = &console;
    ASSERT_EQ(::mkfifo((dir / "fifo.xml").c_str(), 0600), 0);
    EXPECT_EQ(LoadProgramList(list, dir / "fifo.xml"), -1);
    EXPECT_EQ(list.count, 0);
}

}  // namespace
}  // namespace veltrix::testing
