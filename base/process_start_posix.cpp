// The start of every program on POSIX systems: descriptors 0-2 taken, SIGXFSZ ignored.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "base/process_start.h"

namespace veltrix {
namespace {

constexpr int kStandardStreams = 3;

bool IsClosed(int fd) {
    return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

// The lowest free descriptor is the closed stream's own. Where there is no null device (a bare
// chroot), the root folder holds the place: every write to it fails, which the program reports
// as lost output.
void Occupy() {
    if (::open("/dev/null", O_RDWR) < 0) {
        (void)::open("/", O_RDONLY | O_DIRECTORY);
    }
}

}  // namespace

void PrepareProcess() {
    for (int fd = 0; fd < kStandardStreams; ++fd) {
        if (IsClosed(fd)) {
            Occupy();
        }
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace veltrix
