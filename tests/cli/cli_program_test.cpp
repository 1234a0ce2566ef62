// veltrix-cli as a program, where a terminal is not what it gets: standard output full or with
// no reader, a current folder that is gone, arguments that are not UTF-8; and an extraction
// whose reader goes away.
#include <unistd.h>

#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "tests/cli/cli_fixture.h"
#include "tests/layout/layout_test_support.h"

namespace veltrix::cli {
namespace {

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
    } cases[] = {
        {"reader gone", "", "", kExitAborted, "standard output cannot be written (Broken pipe)",
         "\"cancelled\":true"},
        {"not UTF-8", "--target=" + scene.targetDir().string() + "/t\xff", "file", kExitNotStarted,
         "no partition.txt in", "/t\\u00ff"},
        {"folder gone", "--workdir=", "file", kExitNotStarted, "the current folder is gone",
         "\"refusal\":\"the current folder is gone"},
        {"disk full", "", "/dev/full", kExitOutputLost,
         "standard output cannot be written (No space left on device)", "\"exit\":5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartBoard();  // a fresh board in download mode
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

// A reader of the extraction's log that goes away cancels it: the file being written is not
// kept, and no partition.txt describes a folder that is not complete.
TEST_F(CliTest, ExtractionWhoseReaderWentAwayKeepsNoUnfinishedFile) {
    IgnoreBrokenPipe();  // as the program does, outside the extraction
    const testing::TestImage image{{{0, 8, "sbl1"}, {64, 8192, "system"}}};  // 4 MiB: 4 pieces
    testing::WriteTestImage(scene.root() / "total.bin", image);
    const fs::path into = scene.root() / "out";
    fs::create_directories(into);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    std::FILE* gone = fdopen(fds[1], "w");
    TerminalView goneView(gone, err, false);
    EXPECT_EQ(ExtractImage(scene.root() / "total.bin", into, goneView), kExitAborted);
    std::fclose(gone);
    EXPECT_EQ(testing::ListFolder(into), testing::Lines{"sbl1.mbn"});
    EXPECT_NE(Err().find("was cancelled: the unfinished file is removed and partition.txt is not "
                         "written"),
              std::string::npos)
        << Err();
}

}  // namespace
}  // namespace veltrix::cli
