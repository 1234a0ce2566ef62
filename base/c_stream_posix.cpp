// The stdio build's streams on a POSIX C library, whose "x" mode is O_EXCL.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "base/c_stream.h"

namespace veltrix {

std::FILE* OpenPathStream(const std::filesystem::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

std::FILE* CreateNewStream(const std::filesystem::path& path) {
    return std::fopen(path.c_str(), "wbx");
}

// The lock file stays in the folder: removing it while held would let a later holder lock a new
// file of the same name while an earlier one still holds the old.
std::FILE* OpenLockStream(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EAGAIN : errno;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    return ::fdopen(fd, "r+b");
}

}  // namespace veltrix
