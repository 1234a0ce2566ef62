// veltrix-sim: serves a simulated board on COMn until SIGINT or SIGTERM.

#include <csignal>
#include <cstdio>
#include <iostream>

#include "sim/sim_command_line.h"
#include "sim/simulated_board.h"

int main(int argc, char** argv) {
    using namespace veltrix::sim;
    int exitCode = 0;
    std::string message;
    auto commandLine = ParseSimCommandLine(argc, argv, &exitCode, &message);
    if (!commandLine) {
        (exitCode == 0 ? std::cout : std::cerr) << message << "\n";
        return exitCode;
    }
    // Block the stop signals before the board thread starts, then wait for them here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

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
    int signal = 0;
    sigwait(&stopSignals, &signal);
    board.Stop();
    std::cout << "Stopped." << std::endl;
    return 0;
}
