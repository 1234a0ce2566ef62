// The image extraction in folders that fight back: links planted where the output goes, the
// image itself among the outputs, a read-only folder, a full disk, names the system cannot
// take. Whatever happens, nothing outside the output folder changes, no temporary file stays,
// and a folder whose extraction failed holds no index.
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
#include <functional>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "base/result_codes.h"
#include "layout/image_extraction.h"
#include "layout/partition_txt.h"
#include "tests/support/bench_scene.h"
#include "tests/support/recording_view.h"

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

class HostileFolderTest : public ::testing::Test {
protected:
    HostileFolderTest() {
        fs::create_directory(out);
        WriteBytes(victim, kPrecious);
    }
    // Extracts into `out` with a fresh run log, kept in `lines` and `messages`.
    int Run(const fs::path& from, const fs::path& to) {
        RecordingView view;
        const int result = ExtractTotalImage(from, to, view);
        lines = view.Lines();
        messages = view.Messages();
        return result;
    }
    int Extract(const TotalImage& image) {
        WriteTotalImage(bin, image);
        return Run(bin, out);
    }
    // Nothing beside the output folder changed: the image, the victim and the folder itself.
    void ExpectOutsideUntouched() {
        EXPECT_EQ(ListFolder(dir.path()), (Lines{"out", "total.bin", "victim"}));
        EXPECT_EQ(ReadBytes(victim), kPrecious);
    }

    TempFolder dir;
    fs::path bin = dir / "total.bin";
    fs::path out = dir / "out";
    fs::path victim = dir / "victim";
    Lines lines, messages;
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

// `extract --bin same/boot.mbn --dir same`: the image would be replaced by its own partition.
TEST_F(HostileFolderTest, ImageAmongTheOutputsIsRefusedBeforeAnythingIsWritten) {
    const fs::path inside = out / "boot.mbn";
    WriteTotalImage(inside, {{{1, 1, "a"}, {2, 2, "boot"}}});
    WriteText(out / "partition.txt", "old index");
    const Bytes before = ReadBytes(inside);
    const std::string line =
        "ERROR - output file " + inside.string() + " is the image itself; nothing written";

    EXPECT_EQ(Run(inside, out), kErrorWriteFault);
    EXPECT_EQ(lines, Lines{line});
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(ReadBytes(inside), before);
    EXPECT_EQ(ListFolder(out), (Lines{"boot.mbn", "partition.txt"}));
    EXPECT_EQ(ReadBytes(out / "partition.txt").size(), 9u);

    // The same file under another name (a hard link) is the same file.
    ASSERT_EQ(::link(inside.c_str(), bin.c_str()), 0);
    EXPECT_EQ(Run(bin, out), kErrorWriteFault);
    EXPECT_EQ(lines, Lines{line});
    EXPECT_EQ(ReadBytes(inside), before);

    // The image as the index of the folder.
    fs::remove(out / "partition.txt");
    fs::rename(inside, out / "partition.txt");
    EXPECT_EQ(Run(out / "partition.txt", out), kErrorWriteFault);
    EXPECT_EQ(ReadBytes(out / "partition.txt"), before);
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

// partition.txt is written whole or not at all: a file-size limit (in a child, so the limit
// and its signal stay there) stops it in the middle.
TEST_F(HostileFolderTest, IndexCutByAFileSizeLimitIsNotLeftBehind) {
    TotalImage image;
    for (int i = 0; i < 300; ++i) {
        image.records.push_back(
            {static_cast<uint32_t>(i), 0, std::string("p").append(std::to_string(i))});
    }
    WriteTotalImage(bin, image);
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16 * 1024, 16 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
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

}  // namespace
}  // namespace veltrix::testing
