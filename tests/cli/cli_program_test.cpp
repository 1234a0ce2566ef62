// veltrix-cli as a program, where a terminal is not what it gets: standard output full or with
// no reader, a current folder that is gone, arguments that are not UTF-8; and an extraction
// whose reader goes away.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "tests/cli/cli_fixture.h"
#include "tests/layout/layout_test_support.h"

namespace veltrix::cli {
namespace {

class CliProgramTest : public CliRunTest {
protected:
    // Runs veltrix-cli with `args`, standard output to `out` (empty: a pipe whose reader has
    // gone) and standard error to err.txt, in a current folder removed before it starts when
    // `cwdGone`. The exit status.
    int Program(std::vector<std::string> args, const std::string& out, bool cwdGone) {
        args.insert(args.begin(), VELTRIX_CLI_PROGRAM);
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const std::string gone = (folder_ / "gone").string(), err = (folder_ / "err.txt").string();
        fs::create_directories(gone);
        int fds[2];
        if (pipe(fds) != 0) {
            return -1;
        }
        close(fds[0]);
        const pid_t pid = fork();
        if (pid == 0) {
            const int o =
                out.empty() ? fds[1] : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (dup2(o, STDOUT_FILENO) < 0 || dup2(e, STDERR_FILENO) < 0 ||
                (cwdGone && (chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0))) {
                _exit(126);
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

// Output that did not arrive never ends as passed; the record says what happened and, like the
// summary, parses as strict JSON whatever bytes the arguments held.
TEST_F(CliProgramTest, LostOutputAndStrangeSurroundingsNeverEndAsPassed) {
    const std::string target = (folder_ / "target").string();
    struct Case {
        const char* what;
        std::string target;
        std::string out;  // "": a pipe whose reader has gone; "file": a file of the case's own
        bool cwdGone;
        int status;
        const char* err;
        const char* inRecord;
    } const cases[] = {
        {"reader gone", target, "", false, kExitAborted,
         "standard output cannot be written (Broken pipe)", "\"cancelled\":true"},
        {"not UTF-8", target + "/t\xff", "file", false, kExitNotStarted, "no partition.txt in",
         "/t\\u00ff"},
        {"folder gone", target, "file", true, kExitNotStarted, "the current folder is gone",
         "\"refusal\":\"the current folder is gone"},
        {"disk full", target, "/dev/full", false, kExitOutputLost,
         "standard output cannot be written (No space left on device)", "\"exit\":5"},
    };
    std::string written;  // every record and summary, for one strict JSON check at the end
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartBoard();  // a fresh board in download mode
        const std::string name = (folder_ / c.what).string();
        const std::string out = c.out == "file" ? name + ".out" : c.out;
        std::vector<std::string> args = {"run",      "--model",      kModel,     "--port",
                                         "13",       "--target",     c.target,   "--ap-check",
                                         "--record", name + ".json", "--summary"};
        if (!c.cwdGone) {
            args.insert(args.end(), {"--workdir", folder_.string()});
        }
        EXPECT_EQ(Program(args, out, c.cwdGone), c.status);
        const std::string err = ReadFile(folder_ / "err.txt");
        EXPECT_NE(err.find("veltrix-cli: " + std::string(c.err)), std::string::npos) << err;
        const std::string record = ReadFile(name + ".json");
        EXPECT_NE(record.find(c.inRecord), std::string::npos) << record;
        written += " '" + name + ".json'" + (c.out == "file" ? " '" + out + "'" : "");
    }
    const std::string check =
        "python3 -c 'import json,sys; [json.loads(open(p, \"rb\").read().decode()) for p in "
        "sys.argv[1:]]'" +
        written;
    EXPECT_EQ(std::system(check.c_str()), 0) << check;
}

// A reader of the extraction's log that goes away cancels it: the file being written is not
// kept, and no partition.txt describes a folder that is not complete.
TEST_F(CliProgramTest, ExtractionWhoseReaderWentAwayKeepsNoUnfinishedFile) {
    IgnoreBrokenPipe();  // as the program does, outside the extraction
    const testing::TestImage image{{{0, 8, "sbl1"}, {64, 8192, "system"}}};  // 4 MiB: 4 pieces
    testing::WriteTestImage(folder_ / "total.bin", image);
    fs::create_directories(folder_ / "out");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    std::FILE* gone = fdopen(fds[1], "w");
    TerminalView view(gone, err_, false);
    EXPECT_EQ(ExtractImage(folder_ / "total.bin", folder_ / "out", view), kExitAborted);
    std::fclose(gone);
    EXPECT_EQ(testing::ListDir(folder_ / "out"), std::vector<std::string>{"sbl1.mbn"});
    EXPECT_NE(Contents(err_).find("was cancelled: the unfinished file is removed and "
                                  "partition.txt is not written"),
              std::string::npos)
        << Contents(err_);
}

}  // namespace
}  // namespace veltrix::cli
