#include "sim/port_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace veltrix::sim {
namespace {

// A lock taken on a file its last holder removed meanwhile is tried again on the new one.
constexpr int kAttempts = 8;

// The process id the holder wrote, as text; empty when there is none.
std::string HolderPid(int fd) {
    char text[16] = {};
    const ssize_t got = pread(fd, text, sizeof text - 1, 0);
    std::string pid(text, got > 0 ? static_cast<size_t>(got) : 0);
    return pid.find_first_not_of("0123456789") == std::string::npos ? pid : std::string();
}

// The open file is still the one at `path`.
bool StillNamed(int fd, const std::filesystem::path& path) {
    struct stat held {};
    struct stat named {};
    return fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

bool PortLock::Acquire(const std::filesystem::path& folder, int portNumber, std::string* error) {
    Release();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::filesystem::path path = folder / ("COM" + std::to_string(portNumber) + ".lock");
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            *error = "cannot open " + path.string() + ": " + std::strerror(errno);
            return false;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int why = errno;
            const std::string pid = HolderPid(fd);
            close(fd);
            *error = why == EWOULDBLOCK
                         ? "COM" + std::to_string(portNumber) +
                               " is served by another simulator that is still running" +
                               (pid.empty() ? "" : " (pid " + pid + ")") + "; not taking it over"
                         : "cannot lock " + path.string() + ": " + std::strerror(why);
            return false;
        }
        if (StillNamed(fd, path)) {
            const std::string pid = std::to_string(getpid());
            if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) < 0) {
                // The id only names the holder in a refusal; the lock itself is what counts.
            }
            fd_ = fd;
            path_ = path;
            return true;
        }
        close(fd);
    }
    *error = "cannot lock " + path.string() + ": it keeps being replaced";
    return false;
}

void PortLock::Release() {
    if (fd_ < 0) {
        return;
    }
    // Removed while still held: whoever opens the name next gets a new file and a free lock.
    unlink(path_.c_str());
    close(fd_);
    fd_ = -1;
    path_.clear();
}

}  // namespace veltrix::sim
