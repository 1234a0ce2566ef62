// veltrix-sim: serves a simulated board on COMn until SIGINT, SIGTERM, SIGHUP or SIGQUIT; on each
// of them it removes its port link and its temporary eMMC before it ends.

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
    // Block the stop signals before the board thread starts, then wait for them here, so every
    // way of stopping that can be caught cleans up (a closed terminal sends SIGHUP). A reader
    // that goes away from standard output must not end the board either.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int stop : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaddset(&stopSignals, stop);
    }
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

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
