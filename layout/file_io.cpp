#include "layout/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace veltrix {
namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask

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
        const ssize_t got = ::read(fd_, bytes + done, count - done);
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
        const ssize_t put =
            ::pwrite(fd_, bytes + done, count - done, static_cast<off_t>(length_ + done));
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
