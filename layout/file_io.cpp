#include "layout/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace veltrix {
namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask
// Larger single transfers are markedly slower on the page cache than several of this size.
constexpr size_t kMaxTransfer = 256 * 1024;

bool IsAllZero(const uint8_t* bytes, size_t count) {
    return count > 0 && bytes[0] == 0 && std::memcmp(bytes, bytes + 1, count - 1) == 0;
}

}  // namespace

InputFile::~InputFile() {
    Close();
}

int InputFile::Open(const std::filesystem::path& path) {
    Close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    error_ = fd_ < 0 ? errno : 0;
    return error_;
}

long long InputFile::ReadFull(void* buffer, size_t count) {
    if (fd_ < 0) {
        error_ = EBADF;
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
            error_ = errno;
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

OutputFile::~OutputFile() {
    Discard();
}

int OutputFile::Create(const std::filesystem::path& path) {
    Discard();
    path_ = path;
    tempPath_ = path;
    tempPath_ += ".tmp";
    length_ = 0;
    fd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileMode);
    if (fd_ < 0) {
        const int error = errno;
        tempPath_.clear();  // not ours to remove
        return error;
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
            return put < 0 ? errno : EIO;
        }
        done += static_cast<size_t>(put);
    }
    length_ += count;
    return 0;
}

int OutputFile::AppendZeros(uint64_t count) {
    if (fd_ < 0) {
        return EBADF;
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
        return EBADF;
    }
    int error = 0;
    if (::ftruncate(fd_, static_cast<off_t>(length_)) != 0 || (sync && ::fsync(fd_) != 0)) {
        error = errno;
    }
    if (::close(fd_) != 0 && error == 0) {
        error = errno;
    }
    fd_ = -1;
    if (error == 0 && std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(tempPath_.c_str());
    }
    tempPath_.clear();
    return error;
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

std::string ErrorText(int error) {
    return std::strerror(error);
}

}  // namespace veltrix
