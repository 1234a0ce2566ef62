// File I/O where there are no POSIX file descriptors: C streams opened through OpenCFile, zero
// runs written out, no in-kernel copy (CopyFrom copies nothing and the caller uses its buffer).

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include "base/c_stream.h"
#include "base/file_io.h"
#include "base/result_codes.h"
#include "base/system_error.h"
#include "base/temporary_name.h"

namespace veltrix {
namespace {

constexpr size_t kZeroChunk = 64 * 1024;
constexpr int kTemporaryNameTries = 64;

// errno as the last C library call left it; EIO when it left none.
int LastErrno() {
    return errno != 0 ? errno : EIO;
}

// A new file beside `path` under a name of its own, created exclusively: an existing name (a link
// included) is refused.
std::FILE* CreateTemporaryBeside(const std::filesystem::path& path,
                                 std::filesystem::path* tempPath) {
    for (int i = 0; i < kTemporaryNameTries; ++i) {
        std::filesystem::path candidate = TemporaryPathBeside(path);
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(candidate, ec))) {
            continue;
        }
        errno = 0;
        if (std::FILE* file = CreateNewStream(candidate)) {
            *tempPath = std::move(candidate);
            return file;
        }
        if (errno != EEXIST) {
            return nullptr;
        }
    }
    errno = EEXIST;
    return nullptr;
}

}  // namespace

std::FILE* OpenCFile(const std::filesystem::path& path, const char* mode) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return nullptr;
    }
    return OpenPathStream(path, mode);
}

bool InputFile::IsOpen() const {
    return stream_ != nullptr || kind_ == PathKind::kFifo || kind_ == PathKind::kSocket;
}

int InputFile::Open(const std::filesystem::path& path) {
    Close();
    error_ = 0;
    kind_ = PathKind::kNone;
    size_ = 0;
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (std::filesystem::is_directory(status)) {
        return Fail(EISDIR);
    }
    if (std::filesystem::is_fifo(status) || std::filesystem::is_socket(status)) {
        // A C stream would wait for a writer: such an input is never opened here.
        kind_ = std::filesystem::is_fifo(status) ? PathKind::kFifo : PathKind::kSocket;
        openPath_ = path;
        return 0;
    }
    errno = 0;
    stream_ = OpenCFile(path, "rb");
    if (stream_ == nullptr) {
        return Fail(LastErrno());
    }
    openPath_ = path;
    kind_ = std::filesystem::is_regular_file(status) ? PathKind::kRegular : PathKind::kDevice;
    size_ = kind_ == PathKind::kRegular ? std::filesystem::file_size(path, ec) : 0;
    return 0;
}

long long InputFile::ReadFull(void* buffer, size_t count) {
    if (stream_ == nullptr) {
        Fail(kind_ == PathKind::kNone ? EBADF : EINVAL);
        return -1;
    }
    errno = 0;
    const size_t got = std::fread(buffer, 1, count, stream_);
    if (got < count && std::ferror(stream_)) {
        Fail(LastErrno());
        return -1;
    }
    return static_cast<long long>(got);
}

void InputFile::Close() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    openPath_.clear();
    kind_ = PathKind::kNone;
}

bool InputFile::SameFileAs(const std::filesystem::path& path) const {
    std::error_code ec;
    if (stream_ == nullptr ||
        std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) {
        return false;  // renaming over a link replaces the link
    }
    return std::filesystem::equivalent(openPath_, path, ec) && !ec;
}

int RemoveFile(const std::filesystem::path& path, bool* removed, std::string* reason) {
    std::error_code ec;
    if (removed != nullptr) {
        *removed = false;
    }
    const auto status = std::filesystem::symlink_status(path, ec);
    if (!std::filesystem::exists(status)) {
        return 0;
    }
    int error = std::filesystem::is_directory(status) ? EISDIR : 0;
    if (error == 0 && !std::filesystem::remove(path, ec) && ec) {
        error = ec.value();
    }
    if (error == 0 && removed != nullptr) {
        *removed = true;
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
    errno = 0;
    if (std::FILE* file = CreateNewStream(path)) {
        std::fclose(file);
        return 0;
    }
    const int error = LastErrno();
    if (reason != nullptr) {
        *reason = SystemErrorText(error);
    }
    return ResultFromErrno(error);
}

bool OutputFile::IsOpen() const {
    return stream_ != nullptr;
}

int OutputFile::Create(const std::filesystem::path& path) {
    Discard();
    path_ = path;
    length_ = 0;
    if (const int refused = CheckReplaceable(); refused != kErrorSuccess) {
        return refused;
    }
    stream_ = CreateTemporaryBeside(path, &tempPath_);
    if (stream_ == nullptr) {
        tempPath_.clear();  // nothing of ours to remove
        return Fail(LastErrno());
    }
    return 0;
}

int OutputFile::Write(const void* data, size_t count) {
    if (stream_ == nullptr) {
        return Fail(EBADF);
    }
    errno = 0;
    if (std::fwrite(data, 1, count, stream_) != count) {
        return Fail(LastErrno());
    }
    length_ += count;
    return 0;
}

int OutputFile::AppendZeros(uint64_t count) {
    const std::vector<uint8_t> zeros(static_cast<size_t>(std::min<uint64_t>(count, kZeroChunk)));
    while (count > 0) {
        const auto piece = static_cast<size_t>(std::min<uint64_t>(count, zeros.size()));
        if (const int code = Write(zeros.data(), piece); code != 0) {
            return code;
        }
        count -= piece;
    }
    return 0;
}

size_t OutputFile::CopyFrom(InputFile&, size_t) {
    return 0;
}

int OutputFile::Commit(bool /*sync*/) {
    if (stream_ == nullptr) {
        return Fail(EBADF);
    }
    errno = 0;
    int code = std::fflush(stream_) != 0 ? Fail(LastErrno()) : 0;
    if (std::fclose(stream_) != 0 && code == 0) {
        code = Fail(LastErrno());
    }
    stream_ = nullptr;
    std::error_code ec;
    if (code == 0) {
        code = CheckReplaceable();  // something may have been put there meanwhile
    }
    if (code == 0) {
        std::filesystem::rename(tempPath_, path_, ec);
        if (ec) {
            code = Fail(ec.value());
        }
    }
    if (code != 0) {
        std::filesystem::remove(tempPath_, ec);
    }
    tempPath_.clear();
    return code;
}

void OutputFile::Discard() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!tempPath_.empty()) {
        std::error_code ec;
        std::filesystem::remove(tempPath_, ec);
        tempPath_.clear();
    }
}

FolderLock::~FolderLock() {
    Release();
}

int FolderLock::Acquire(const std::filesystem::path& folder) {
    Release();
    errno = 0;
    stream_ = OpenLockStream(folder / ".veltrix.lock");
    if (stream_ != nullptr) {
        return kErrorSuccess;
    }
    const int error = LastErrno();
    if (error == EAGAIN) {
        errorText_ = "another program holds it";
        return kErrorLockViolation;
    }
    errorText_ = SystemErrorText(error);
    return ResultFromErrno(error);
}

void FolderLock::Release() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
}

}  // namespace veltrix
