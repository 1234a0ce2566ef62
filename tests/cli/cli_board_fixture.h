#pragma once
// veltrix-cli's tests with the simulated board at kBoardPort when a test starts it, and
// veltrix-cli as a program (POSIX: fork, exec and pipes).
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "tests/cli/cli_fixture.h"
#include "tests/support/scene_board.h"

namespace veltrix::cli {

// A standard stream the program starts without.
inline const std::string kClosedStream = "<closed>";

// Where `fd` of the child goes: `path`, or nowhere (kClosedStream). False on failure.
inline bool Redirect(int fd, int target, const std::string& path) {
    return path == kClosedStream ? close(fd) == 0 : target >= 0 && dup2(target, fd) >= 0;
}

// Starts veltrix-cli with `args`, standard output to `out` (empty: a pipe whose reader has gone)
// and standard error to `err` (either closed when kClosedStream), in a current folder `gone`
// removed before it starts when given, as the user nobody when `asNobody` and root runs the
// tests, after `inChild` (a resource limit, say). Its process id.
inline pid_t StartProgram(std::vector<std::string> args, const std::string& out,
                          const std::string& err, const std::string& gone, bool asNobody = false,
                          const std::function<void()>& inChild = {}) {
    args.insert(args.begin(), VELTRIX_CLI_PROGRAM);
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) {
        return -1;
    }
    close(fds[0]);
    const pid_t pid = fork();
    if (pid == 0) {
        const auto file = [](const std::string& path) {
            return path == kClosedStream ? -1
                                         : open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        };
        // Both opened before either stream is closed, so neither takes a closed one's number.
        const int o = out.empty() ? fds[1] : file(out);
        const int e = file(err);
        if (!Redirect(STDOUT_FILENO, o, out) || !Redirect(STDERR_FILENO, e, err) ||
            (!gone.empty() && (chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0)) ||
            (asNobody && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))) {
            _exit(126);
        }
        if (inChild) {
            inChild();
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    return pid;
}

// Waits for the program; its exit status (128 + the signal when a signal ended it).
inline int WaitProgram(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// StartProgram, then WaitProgram: the exit status.
inline int Program(std::vector<std::string> args, const std::string& out, const std::string& err,
                   const std::string& gone, bool asNobody = false,
                   const std::function<void()>& inChild = {}) {
    const pid_t pid = StartProgram(std::move(args), out, err, gone, asNobody, inChild);
    return pid < 0 ? -1 : WaitProgram(pid);
}

class CliTest : public CliCommandTest {
protected:
    ~CliTest() override { board.reset(); }
    void StartBoard() {
        board.reset();
        board = testing::StartBoard(options);
        ASSERT_TRUE(board);
    }
    // veltrix-cli run's arguments for the AP check with a record and a summary, with `flags`
    // (separated by ";") in place of those of the same names, or added; "--x=" drops --x.
    Lines RunArgs(const std::string& flags, const fs::path& record) const {
        std::istringstream in("run;--model=" + std::string(kDloadModel) + ";--port=14;--ap-check;" +
                              "--target=" + scene.targetDir().string() +
                              ";--workdir=" + scene.workDir().string() +
                              ";--record=" + record.string() + ";--summary;" + flags);
        Lines args;
        for (std::string flag; std::getline(in, flag, ';');) {
            const auto name = [](const std::string& f) { return f.substr(0, f.find('=')); };
            const auto same = std::find_if(args.begin(), args.end(), [&](const std::string& a) {
                return name(a) == name(flag);
            });
            if (same != args.end()) {
                args.erase(same);
            }
            if (flag.back() != '=') {
                args.push_back(flag);
            }
        }
        return args;
    }

    sim::BoardOptions options = testing::BoardFor(scene, kDloadModel);
    std::unique_ptr<sim::SimulatedBoard> board;
};

}  // namespace veltrix::cli
