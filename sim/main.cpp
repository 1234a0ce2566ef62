// veltrix-sim: serves a simulated board on COMn until SIGINT, SIGTERM, SIGHUP or SIGQUIT; on each
// of them it removes its port link and its temporary eMMC before it ends.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <new>

#include "sim/sim_command_line.h"
#include "sim/simulated_board.h"

namespace {

// A standard stream the board was started without is opened on the null device before anything
// else: the pseudo-terminal would otherwise take its number, and the board's own lines would go
// to the host as if the board had sent them. SIGXFSZ is ignored: a full eMMC file under a
// file-size limit fails the write (the board answers with an error) instead of ending the board.
void PrepareProcess() {
    for (int fd = 0; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) < 0) {
            (void)open("/", O_RDONLY | O_DIRECTORY);
        }
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

// The stop signals write a byte here; main waits for it. A handler, rather than blocked signals
// and sigwait, because a thread the program does not own (a sanitizer's, a library's) would
// take a blocked signal's default action and end the process before it cleaned up.
int gStopPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
    const char byte = 1;
    (void)!write(gStopPipe[1], &byte, 1);
}

bool CatchStopSignals() {
    if (pipe(gStopPipe) != 0) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int stop : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaction(stop, &action, nullptr);
    }
    // A reader that goes away from standard output must not end the board either.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

void WaitForStopSignal() {
    char byte = 0;
    while (read(gStopPipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
}

int Serve(int argc, char** argv) {
    using namespace veltrix::sim;
    int exitCode = 0;
    std::string message;
    auto commandLine = ParseSimCommandLine(argc, argv, &exitCode, &message);
    if (!commandLine) {
        (exitCode == 0 ? std::cout : std::cerr) << message << "\n";
        return exitCode;
    }
    // Every way of stopping that can be caught cleans up (a closed terminal sends SIGHUP).
    if (!CatchStopSignals()) {
        std::cerr << "veltrix-sim: cannot set up its stop signals\n";
        return 1;
    }

    SimulatedBoard board(commandLine->options);
    if (!commandLine->quiet) {
        board.SetEventSink(
            [](const std::string& line) { std::cout << "sim: " << line << std::endl; });
    }
    std::string error;
    if (!board.Start(&error)) {
        std::cerr << "veltrix-sim: " << error << "\n";
        return 1;
    }
    std::cout << "Serving COM" << board.portNumber() << " (" << board.linkPath().string()
              << "), board in " << BoardModeName(board.mode()) << "; eMMC "
              << board.emmcPath().string() << ". Ctrl+C stops." << std::endl;
    WaitForStopSignal();
    board.Stop();
    std::cout << "Stopped." << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    PrepareProcess();
    try {
        return Serve(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << "veltrix-sim: the PC ran out of memory; the board stopped\n";
        return 1;
    }
}
