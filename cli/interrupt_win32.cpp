// Ctrl-C, Ctrl-Break and the console window's close on Windows: the console's control handler,
// which the system calls on a thread of its own, sets the run's cancel flag, as SIGINT does on
// POSIX.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "cli/interrupt.h"

namespace veltrix::cli {
namespace {

std::atomic<std::atomic<bool>*> gCancel{nullptr};
std::atomic<bool> gInterrupted{false};

// Once the handler of a close, log-off or shutdown returns, the system ends the process (and
// after about 5 s it does so anyway). The handler holds it meanwhile, so the engine can end the
// run as aborted with the port closed and the command line write its record and return, which
// ends the process sooner.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI OnConsoleControl(DWORD event) {
    gInterrupted = true;
    if (std::atomic<bool>* cancel = gCancel.load()) {
        cancel->store(true);
    }
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        Sleep(kCloseGraceMs);
    }
    return TRUE;  // handled: Ctrl-C and Ctrl-Break do not end the process
}

}  // namespace

CancelOnInterrupt::CancelOnInterrupt(std::atomic<bool>& cancel) {
    gInterrupted = false;
    gCancel = &cancel;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CancelOnInterrupt::~CancelOnInterrupt() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    gCancel = nullptr;
}

bool CancelOnInterrupt::Interrupted() {
    return gInterrupted;
}

// Windows raises no signal for a pipe whose reader went away: the write fails, and the failure
// is reported as it is on POSIX systems.
void IgnoreBrokenPipe() {}

}  // namespace veltrix::cli
