#include "sim/wake_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace veltrix::sim {

WakeSignal::WakeSignal() {
    if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
        fds_[0] = fds_[1] = -1;
    }
}

WakeSignal::~WakeSignal() {
    for (int fd : fds_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void WakeSignal::Raise() {
    raised_ = true;
    const char byte = 1;
    if (fds_[1] >= 0) {
        [[maybe_unused]] ssize_t n = write(fds_[1], &byte, 1);
    }
}

void WakeSignal::Clear() {
    raised_ = false;
    char sink[64];
    while (fds_[0] >= 0 && read(fds_[0], sink, sizeof sink) > 0) {
    }
}

bool WakeSignal::WaitFor(int ms) const {
    if (fds_[0] < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return raised_;
    }
    pollfd p{fds_[0], POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, ms);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & POLLIN);
}

}  // namespace veltrix::sim
