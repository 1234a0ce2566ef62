// File I/O where there are no POSIX file descriptors: C streams opened through OpenCFile, zero
// runs written out, no in-kernel copy (CopyFrom copies nothing and the caller uses its buffer).

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "base/file_io.h"
#include "base/result_codes.h"
#include "base/system_error.h"

namespace veltrix {
namespace {

constexpr size_t kZeroChunk = 64 * 1024;

// errno as the last C library call left it; EIO when it left none.
int LastErrno() {
    return errno != 0 ? errno : EIO;
}

}  // namespace

std::FILE* OpenCFile(const std::filesystem::path& path, const char* mode) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return nullptr;
    }
#ifdef _WIN32
    std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

InputFile::~InputFile() {
    Close();
}

int InputFile::Fail(int systemError) {
    error_ = ResultFromErrno(systemError);
    errorText_ = SystemErrorText(systemError);
    return error_;
}

bool InputFile::IsOpen() const {
    return stream_ != nullptr;
}

int InputFile::Open(const std::filesystem::path& path) {
    Close();
    error_ = 0;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return Fail(EISDIR);
    }
    errno = 0;
    stream_ = OpenCFile(path, "rb");
    return stream_ == nullptr ? Fail(LastErrno()) : 0;
}

long long InputFile::ReadFull(void* buffer, size_t count) {
    if (stream_ == nullptr) {
        Fail(EBADF);
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
}

OutputFile::~OutputFile() {
    Discard();
}

int OutputFile::Fail(int systemError) {
    errorText_ = SystemErrorText(systemError);
    return ResultFromErrno(systemError);
}

bool OutputFile::IsOpen() const {
    return stream_ != nullptr;
}

int OutputFile::Create(const std::filesystem::path& path) {
    Discard();
    path_ = path;
    tempPath_ = path;
    tempPath_ += ".tmp";
    length_ = 0;
    errno = 0;
    stream_ = OpenCFile(tempPath_, "wb");
    if (stream_ == nullptr) {
        tempPath_.clear();  // not ours to remove
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

}  // namespace veltrix
