// veltrix-sim as a program: it takes over the COMn link a killed simulator left behind but never
// the link of one that still runs, and on every stop signal it can catch it removes its link and
// its temporary eMMC.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "link/serial_link.h"
#include "protocol/dload.h"
#include "tests/support/bench_scene.h"

namespace veltrix::testing {
namespace {

namespace fs = std::filesystem;

class SimProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(ports_);
        fs::create_directories(temp_);
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    // Starts the simulator on COM`port` with its ports folder and temporary folder inside the
    // test's; `talkative`: with its event lines, and its standard streams closed.
    void Start(const char* port = "7", bool talkative = false) {
        pid_ = ::fork();
        if (pid_ == 0) {
            const ScopedEnv tmp("TMPDIR", temp_.string());  // for the program exec'd below
            const int devNull = ::open("/dev/null", O_WRONLY);
            ::dup2(devNull, STDOUT_FILENO);
            if (talkative) {
                for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
                    ::close(fd);
                }
            }
            // The last argument ends the list early when the board may talk.
            ::execl(VELTRIX_SIM_PROGRAM, VELTRIX_SIM_PROGRAM, "--port", port, "--ports-folder",
                    ports_.c_str(), "--boot", "dload", talkative ? nullptr : "--quiet",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    // The link points at a pseudo-terminal once the board serves.
    bool Serving() {
        for (int i = 0; i < 500; ++i) {
            std::error_code ec;
            const fs::path target = fs::read_symlink(link_, ec);
            if (!ec && target.string().starts_with("/dev/pts/") && !fs::is_empty(temp_)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // Sends `signal` (none: 0) and waits up to 10 s for the exit status; -1 when the program
    // did not end (it is then killed).
    int StopWith(int signal) {
        if (signal != 0) {
            ::kill(pid_, signal);
        }
        int status = 0;
        for (int i = 0; i < 1000 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (i == 999) {
                return -1;  // TearDown kills it
            }
        }
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    TempFolder folder_;
    fs::path ports_ = folder_ / "ports";
    fs::path temp_ = folder_ / "tmp";
    fs::path link_ = ports_ / "COM7";
    pid_t pid_ = 0;
};

TEST_F(SimProgramTest, StaleLinkIsTakenOverAndEveryStopCleansUp) {
    fs::create_symlink("/dev/pts/999999", link_);  // left by a simulator that was killed
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(signal);
        Start();
        ASSERT_TRUE(Serving());
        EXPECT_EQ(StopWith(signal), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(link_)));
        EXPECT_TRUE(fs::is_empty(temp_));  // the temporary eMMC is gone
        fs::create_symlink("/dev/pts/999999", link_);
    }
}

// A second simulator on a port that one serves is refused, as is a port no host opens; once the
// first one is killed, its link is stale and the next one takes it over.
TEST_F(SimProgramTest, ALiveSimulatorsPortIsNeverTakenOver) {
    Start();
    ASSERT_TRUE(Serving());
    const pid_t first = pid_;
    const fs::path served = fs::read_symlink(link_);
    for (const char* port : {"7", "100"}) {
        Start(port);
        EXPECT_NE(StopWith(0), 0) << port;
        EXPECT_EQ(fs::read_symlink(link_), served);
    }
    ::kill(first, SIGKILL);
    ::waitpid(first, nullptr, 0);
    fs::remove_all(temp_);  // its eMMC: Serving() then waits for the next one's
    fs::create_directories(temp_);
    Start();
    EXPECT_TRUE(Serving());
    EXPECT_EQ(StopWith(SIGTERM), 0);
}

// Started without its standard streams, the board's own lines go nowhere: not to the host
// through its pseudo-terminal (NOP is answered with ACK and nothing else), nor into a pipe of
// its own.
TEST_F(SimProgramTest, ClosedStandardStreamsNeverBecomeThePort) {
    Start("7", /*talkative=*/true);
    ASSERT_TRUE(Serving());
    const ScopedEnv ports("VELTRIX_PORTS", ports_.string());
    SerialLink link;
    ASSERT_EQ(link.Open(7), kErrorSuccess);
    ProgrammerSession session{&link};
    EXPECT_EQ(DloadNop(session), kErrorSuccess);
    link.SetTimeout(300);
    uint8_t stray[256];
    EXPECT_EQ(link.ReadRaw(stray, sizeof stray), 0);
    link.Close();
    EXPECT_EQ(StopWith(SIGTERM), 0);
}

TEST_F(SimProgramTest, SomethingElseAtTheLinksPlaceIsLeftAlone) {
    std::ofstream(link_) << "not a link";
    Start();
    EXPECT_EQ(StopWith(0), 1);
    EXPECT_TRUE(fs::is_regular_file(link_));
    EXPECT_TRUE(fs::is_empty(temp_));
}

}  // namespace
}  // namespace veltrix::testing
