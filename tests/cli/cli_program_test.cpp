// veltrix-cli as a program, where a terminal is not what it gets: standard output full or with
// no reader, a current folder that is gone, arguments that are not UTF-8; and its extractions
// that fail.
#include <sys/resource.h>
#include <sys/stat.h>

#include <functional>
#include <utility>

#include "cli/exit_status.h"
#include "tests/cli/cli_board_fixture.h"
#include "tests/support/bench_scene.h"

namespace veltrix::cli {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Output that did not arrive never ends as passed; the record says what happened and, like the
// summary, is strict JSON whatever bytes the arguments held.
TEST_F(CliTest, LostOutputAndStrangeSurroundingsNeverEndAsPassed) {
    const struct {
        const char* what;
        std::string flags;  // for RunArgs; dropping --workdir runs in a folder that is gone
        std::string out;    // "": a pipe whose reader has gone; "file": a file of the case's own
        int status;
        const char* err;
        const char* inRecord;
        std::function<void()> arrange = {};  // once a board in download mode is at COM14
    } cases[] = {
        {"reader gone", "", "", kExitAborted, "standard output cannot be written (Broken pipe)",
         "\"cancelled\":true"},
        {"not UTF-8", "--target=" + scene.targetDir().string() + "/t\xff", "file", kExitNotStarted,
         "no partition.txt in", "/t\\u00ff"},
        {"folder gone", "--workdir=", "file", kExitNotStarted, "the current folder is gone",
         "\"refusal\":\"the current folder is gone"},
        {"disk full", "", "/dev/full", kExitOutputLost,
         "standard output cannot be written (No space left on device)", "\"exit\":5"},
        // A run that did not pass keeps its own status when its output is lost too.
        {"disk full, board silent", "", "/dev/full", kExitAborted,
         "standard output cannot be written (No space left on device)", "\"exit\":2",
         [this] { board->InjectFault({.kind = sim::FaultKind::kSilence, .count = 1000}); }},
        {"disk full, PMIC step failed", "--pmic-on;--ap-check=;--target=", "/dev/full",
         kExitTestFailed, "standard output cannot be written (No space left on device)",
         "\"exit\":1",
         [this] {
             options.faults = {{.kind = sim::FaultKind::kWrongCode, .command = 0x26, .code = 0x0D}};
             StartBoard();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        options = testing::BoardFor(scene, kDloadModel);
        StartBoard();  // a fresh board in download mode
        if (c.arrange) {
            c.arrange();
        }
        const std::string name = (scene.root() / c.what).string();
        const std::string out = c.out == "file" ? name + ".out" : c.out;
        const fs::path gone = scene.root() / "gone";
        fs::create_directories(gone);
        EXPECT_EQ(Program(RunArgs(c.flags, name + ".json"), out, name + ".err",
                          c.flags == "--workdir=" ? gone.string() : ""),
                  c.status);
        const std::string errText = ReadText(name + ".err");
        EXPECT_NE(errText.find("veltrix-cli: " + std::string(c.err)), std::string::npos) << errText;
        const std::string record = ReadText(name + ".json");
        EXPECT_NE(record.find(c.inRecord), std::string::npos) << record;
        EXPECT_TRUE(IsStrictJson(record)) << record;
        if (c.out == "file") {  // the log, then the summary on its last line
            const std::string summary = ReadText(out).substr(ReadText(out).rfind("\n{") + 1);
            EXPECT_TRUE(IsStrictJson(summary)) << summary;
        }
    }
}

// A standard stream the program starts without never becomes the board's port: the run log
// and the status lines would go to the board, and a good board would fail.
TEST_F(CliTest, ClosedStandardStreamsNeverBecomeTheBoardsPort) {
    const std::string name = (scene.root() / "closed").string();
    const std::pair<std::string, std::string> outErr[] = {{kClosedStream, name + ".err"},
                                                          {name + ".out", kClosedStream}};
    for (const auto& [out, err] : outErr) {
        SCOPED_TRACE(out + " " + err);
        StartBoard();
        EXPECT_EQ(Program(RunArgs("", name + ".json"), out, err, ""), kExitPassed);
        EXPECT_TRUE(Has(ReadText(name + ".json"), "\"verdict\":\"PASS\""))
            << ReadText(name + ".json");
    }
}

// Under a file-size limit a write past it fails as any failed write does, and the program goes
// on (it is not ended by SIGXFSZ): a dump ends the run as aborted naming the PC's fault with its
// record and summary written, an extraction fails saying why; no temporary file stays. A PC out
// of file descriptors is named as such too.
TEST_F(CliTest, LimitsOfThePcFailTheWorkAndAreNamedAsThePcs) {
    const std::string root = scene.root().string();
    scene.WritePartitions({{"sbl2", 8, 128}});  // 64 KiB
    testing::WriteTotalImage(root + "/total.bin", {{{0, 8, "sbl1"}, {64, 128, "system"}}});
    fs::create_directories(root + "/out");
    const auto limit = [] {
        const rlimit small{16 * 1024, 16 * 1024};
        setrlimit(RLIMIT_FSIZE, &small);
    };
    StartBoard();
    const Lines dump =
        RunArgs("--emmc;--option=Read only;--partition=sbl2;--dump", root + "/r.json");
    EXPECT_EQ(Program(dump, root + "/out.txt", root + "/err", "", false, limit), kExitAborted);
    EXPECT_TRUE(Has(ReadText(root + "/err"), "veltrix-cli: cannot write the dump: File too large"))
        << ReadText(root + "/err");
    EXPECT_TRUE(Has(ReadText(root + "/r.json"), R"j("verdict":"ABORTED: cannot write the dump)j"));
    EXPECT_TRUE(Has(ReadText(root + "/out.txt"), R"j("emmc":"N/T")j"))
        << ReadText(root + "/out.txt");
    EXPECT_TRUE(testing::ListFolder(scene.ModelFolder(kDloadModel) / "dump").empty());

    const Lines extract = {"extract", "--bin=" + root + "/total.bin", "--dir=" + root + "/out"};
    EXPECT_EQ(Program(extract, root + "/out.txt", root + "/err", "", false, limit),
              kExitExtractFailed);
    EXPECT_TRUE(Has(ReadText(root + "/err"), "/out/system.mbn (File too large)"))
        << ReadText(root + "/err");
    EXPECT_EQ(testing::ListFolder(root + "/out"), Lines{"sbl1.mbn"});

    // Four descriptors: the standard streams and the port. The programmer file cannot be
    // opened, which is the PC's fault, not the file's nor the board's. (The sanitizers' own
    // start-up needs more descriptors than that.)
    if (kSanitized) {
        return;
    }
    StartBoard();
    const auto fewFiles = [] {
        for (int fd = 3; fd < 1024; ++fd) {  // what the test process holds open
            close(fd);
        }
        const rlimit four{4, 4};
        setrlimit(RLIMIT_NOFILE, &four);
    };
    EXPECT_EQ(Program(RunArgs("", root + "/r.json"), root + "/out.txt", root + "/err", "", false,
                      fewFiles),
              kExitAborted);
    EXPECT_TRUE(Has(ReadText(root + "/err"),
                    "veltrix-cli: the PC has no file descriptors left "
                    "to read "))
        << ReadText(root + "/err");
    EXPECT_TRUE(Has(ReadText(root + "/out.txt"), R"j("ap":"N/T")j")) << ReadText(root + "/out.txt");
}

// veltrix-cli extract says why it failed and leaves no partition.txt for a folder that is not
// complete; a reader of its log that goes away cancels it and the file being written is removed.
TEST_F(CliTest, ExtractionFailuresSayWhy) {
    const std::string root = scene.root().string();
    testing::WriteText(root + "/short.bin", std::string(100, 'x'));
    fs::create_directories(root + "/piped");
    ASSERT_EQ(mkfifo((root + "/piped/partition.txt").c_str(), 0600), 0);
    const testing::TotalImage image{{{0, 8, "sbl1"}, {64, 8192, "system"}}};  // 4 MiB: 4 pieces
    testing::WriteTotalImage(root + "/total.bin", image);
    const struct {
        std::string bin, dir, out;  // out "": a pipe whose reader has gone
        int status;
        std::string message;
    } cases[] = {
        {"/missing.bin", "/out", "/out.txt", kExitExtractFailed,
         "cannot read " + root + "/missing.bin: No such file or directory"},
        {"", "/out", "/out.txt", kExitExtractFailed,
         root + " is a folder, not a total binary image (--bin)"},
        {"/short.bin", "/out", "/out.txt", kExitExtractFailed,
         root + "/short.bin is 100 bytes, too short for the partition tables"},
        {"/short.bin", "/piped", "/out.txt", kExitExtractFailed,
         root + "/piped/partition.txt is a FIFO: the extraction replaces only a regular file"},
        {"/total.bin", "/out", "", kExitAborted,
         "the extraction into " + root + "/out was cancelled: the unfinished file is removed"},
    };
    fs::create_directories(root + "/out");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const Lines args = {"extract", "--bin=" + root + c.bin, "--dir=" + root + c.dir};
        EXPECT_EQ(Program(args, c.out.empty() ? "" : root + c.out, root + "/err", ""), c.status);
        EXPECT_NE(ReadText(root + "/err").find("veltrix-cli: " + c.message), std::string::npos)
            << ReadText(root + "/err");
        EXPECT_FALSE(fs::is_regular_file(root + c.dir + "/partition.txt"));
    }
    EXPECT_TRUE(fs::is_fifo(root + "/piped/partition.txt"));
    EXPECT_EQ(testing::ListFolder(root + "/out"), Lines{"sbl1.mbn"});
}

}  // namespace
}  // namespace veltrix::cli
