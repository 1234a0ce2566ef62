#include "cli/interrupt.h"

#include <csignal>
#include <iterator>

namespace veltrix::cli {
namespace {

// Storing to a lock-free atomic is safe in a signal handler.
std::atomic<std::atomic<bool>*> gCancel{nullptr};
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
    gInterrupted = true;
    if (std::atomic<bool>* cancel = gCancel.load()) {
        cancel->store(true);
    }
}

constexpr int kCancelSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
struct sigaction gOld[std::size(kCancelSignals)]{};

}  // namespace

CancelOnInterrupt::CancelOnInterrupt(std::atomic<bool>& cancel) {
    gInterrupted = false;
    gCancel = &cancel;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kCancelSignals); ++i) {
        sigaction(kCancelSignals[i], &action, &gOld[i]);
    }
}

CancelOnInterrupt::~CancelOnInterrupt() {
    for (size_t i = 0; i < std::size(kCancelSignals); ++i) {
        sigaction(kCancelSignals[i], &gOld[i], nullptr);
    }
    gCancel = nullptr;
}

bool CancelOnInterrupt::Interrupted() {
    return gInterrupted;
}

void IgnoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace veltrix::cli
