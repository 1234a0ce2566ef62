// File I/O on POSIX systems: file descriptors, holes for runs of zero bytes, and in-kernel copies.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/file_io.h"
#include "base/result_codes.h"
#include "base/system_error.h"
#include "base/temporary_name.h"

namespace veltrix {
namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask
// Larger single transfers are markedly slower on the page cache than several of this size.
constexpr size_t kMaxTransfer = 256 * 1024;

// Names tried for a temporary file before giving up (each try meets an existing name only when
// someone is planting names in the folder).
constexpr int kTemporaryNameTries = 64;

bool IsAllZero(const uint8_t* bytes, size_t count) {
    return count > 0 && bytes[0] == 0 && std::memcmp(bytes, bytes + 1, count - 1) == 0;
}

// A new file at `path` for writing: an existing name, or a link, is never opened (O_EXCL,
// O_NOFOLLOW). The descriptor, or -1 with errno set.
int OpenNewFile(const std::filesystem::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
}

// Creates a new file beside `path` under a name of its own. The descriptor, or -1 with errno set.
int CreateTemporaryBeside(const std::filesystem::path& path, std::filesystem::path* tempPath) {
    for (int i = 0; i < kTemporaryNameTries; ++i) {
        std::filesystem::path candidate = TemporaryPathBeside(path);
        const int fd = OpenNewFile(candidate);
        if (fd >= 0) {
            *tempPath = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

std::FILE* OpenCFile(const std::filesystem::path& path, const char* mode) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec) ? nullptr : std::fopen(path.c_str(), mode);
}

bool InputFile::IsOpen() const {
    return fd_ >= 0;
}

int InputFile::Open(const std::filesystem::path& path) {
    Close();
    error_ = 0;
    kind_ = PathKind::kNone;
    size_ = 0;
    // Without O_NONBLOCK, opening a FIFO would wait for a writer that may never come.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        return Fail(errno);
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int error = errno;
        Close();
        return Fail(error);
    }
    if (S_ISDIR(st.st_mode)) {
        Close();
        return Fail(EISDIR);
    }
    kind_ = S_ISREG(st.st_mode)                          ? PathKind::kRegular
            : S_ISFIFO(st.st_mode)                       ? PathKind::kFifo
            : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? PathKind::kDevice
            : S_ISSOCK(st.st_mode)                       ? PathKind::kSocket
                                                         : PathKind::kOther;
    size_ = kind_ == PathKind::kRegular ? static_cast<uint64_t>(st.st_size) : 0;
    // Reads of a regular file never block; anything else reads as it would without the flag.
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    return 0;
}

long long InputFile::ReadFull(void* buffer, size_t count) {
    if (fd_ < 0) {
        Fail(EBADF);
        return -1;
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd_, bytes + done, std::min(count - done, kMaxTransfer));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            Fail(errno);
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<size_t>(got);
    }
    return static_cast<long long>(done);
}

void InputFile::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool InputFile::SameFileAs(const std::filesystem::path& path) const {
    struct stat mine {};
    struct stat other {};
    return fd_ >= 0 && ::fstat(fd_, &mine) == 0 && ::lstat(path.c_str(), &other) == 0 &&
           mine.st_dev == other.st_dev && mine.st_ino == other.st_ino;
}

int RemoveFile(const std::filesystem::path& path, bool* removed, std::string* reason) {
    struct stat st {};
    int error = 0;
    bool gone = false;
    if (::lstat(path.c_str(), &st) != 0) {
        error = errno == ENOENT ? 0 : errno;
    } else if (S_ISDIR(st.st_mode)) {
        error = EISDIR;
    } else if (::unlink(path.c_str()) == 0) {
        gone = true;
    } else if (errno != ENOENT) {
        error = errno;
    }
    if (removed != nullptr) {
        *removed = gone;
    }
    if (error == 0) {
        return 0;
    }
    if (reason != nullptr) {
        *reason = SystemErrorText(error);
    }
    return ResultFromErrno(error);
}

int CreateNewFile(const std::filesystem::path& path, std::string* reason) {
    const int fd = OpenNewFile(path);
    if (fd >= 0) {
        ::close(fd);
        return 0;
    }
    const int error = errno;
    if (reason != nullptr) {
        *reason = SystemErrorText(error);
    }
    return ResultFromErrno(error);
}

bool OutputFile::IsOpen() const {
    return fd_ >= 0;
}

int OutputFile::Create(const std::filesystem::path& path) {
    Discard();
    path_ = path;
    length_ = 0;
    if (const int refused = CheckReplaceable(); refused != kErrorSuccess) {
        return refused;
    }
    fd_ = CreateTemporaryBeside(path, &tempPath_);
    if (fd_ < 0) {
        tempPath_.clear();  // nothing of ours to remove
        return Fail(errno);
    }
    return 0;
}

int OutputFile::Write(const void* data, size_t count) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (IsAllZero(bytes, count)) {
        return AppendZeros(count);
    }
    size_t done = 0;
    while (done < count) {
        const ssize_t put = ::pwrite(fd_, bytes + done, std::min(count - done, kMaxTransfer),
                                     static_cast<off_t>(length_ + done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return Fail(put < 0 ? errno : EIO);
        }
        done += static_cast<size_t>(put);
    }
    length_ += count;
    return 0;
}

int OutputFile::AppendZeros(uint64_t count) {
    if (fd_ < 0) {
        return Fail(EBADF);
    }
    length_ += count;
    return 0;
}

size_t OutputFile::CopyFrom(InputFile& input, size_t count) {
    size_t done = 0;
    while (fd_ >= 0 && input.fd_ >= 0 && done < count) {
        loff_t at = static_cast<loff_t>(length_);
        const ssize_t copied = ::copy_file_range(input.fd_, nullptr, fd_, &at, count - done, 0);
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        if (copied <= 0) {
            break;
        }
        done += static_cast<size_t>(copied);
        length_ += static_cast<uint64_t>(copied);
    }
    return done;
}

int OutputFile::Commit(bool sync) {
    if (fd_ < 0) {
        return Fail(EBADF);
    }
    int code = 0;
    if (::ftruncate(fd_, static_cast<off_t>(length_)) != 0 || (sync && ::fsync(fd_) != 0)) {
        code = Fail(errno);
    }
    if (::close(fd_) != 0 && code == 0) {
        code = Fail(errno);
    }
    fd_ = -1;
    if (code == 0) {
        code = CheckReplaceable();  // something may have been put there meanwhile
    }
    if (code == 0 && std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        code = Fail(errno);
    }
    if (code != 0) {
        ::unlink(tempPath_.c_str());
    }
    tempPath_.clear();
    return code;
}

void OutputFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

FolderLock::~FolderLock() {
    Release();
}

int FolderLock::Acquire(const std::filesystem::path& folder) {
    Release();
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error = fd_ < 0 ? errno : 0;
    if (error == 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        Release();
    }
    if (error == EWOULDBLOCK) {
        errorText_ = "another program holds it";
        return kErrorLockViolation;
    }
    if (error != 0) {
        errorText_ = SystemErrorText(error);
        return ResultFromErrno(error);
    }
    return kErrorSuccess;
}

void FolderLock::Release() {
    if (fd_ >= 0) {
        ::close(fd_);  // the lock goes with the descriptor
        fd_ = -1;
    }
}

}  // namespace veltrix
