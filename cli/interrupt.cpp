#include "cli/interrupt.h"

#include <csignal>

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

struct sigaction gOldInt {};
struct sigaction gOldTerm {};

}  // namespace

CancelOnInterrupt::CancelOnInterrupt(std::atomic<bool>& cancel) {
    gInterrupted = false;
    gCancel = &cancel;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &gOldInt);
    sigaction(SIGTERM, &action, &gOldTerm);
}

CancelOnInterrupt::~CancelOnInterrupt() {
    sigaction(SIGINT, &gOldInt, nullptr);
    sigaction(SIGTERM, &gOldTerm, nullptr);
    gCancel = nullptr;
}

bool CancelOnInterrupt::Interrupted() {
    return gInterrupted;
}

}  // namespace veltrix::cli
