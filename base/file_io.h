#pragma once
// The one place where file paths reach the system: plain file I/O for the image files (an input
// read front to back, and an output written under a temporary name and renamed into place only
// when it is complete, so a failed write never leaves a truncated file where a good one stood),
// and C streams opened by path where paths are wide strings too. Failures return the named codes
// of base/result_codes.h; errorText() keeps the system's words for the diagnostic line.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace veltrix {

class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // 0, or the code of the failed open (kErrorDirectory for a folder). An existing file only.
    int Open(const std::filesystem::path& path);
    bool IsOpen() const;
    // Reads until `count` bytes have arrived or the file ends. Returns the number of bytes read,
    // or -1 on a read error (its code in error(), its words in errorText()).
    long long ReadFull(void* buffer, size_t count);
    int error() const { return error_; }
    const std::string& errorText() const { return errorText_; }
    void Close();

private:
    friend class OutputFile;
    int Fail(int systemError);
    int fd_ = -1;
    std::FILE* stream_ = nullptr;  // where there are no file descriptors
    int error_ = 0;
    std::string errorText_;
};

// An output file written to "<path>.tmp" and renamed to `path` by Commit. Runs of zero bytes may
// be left as holes; the content read back is the same.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // discards an uncommitted file
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // 0 or the code of the failed create. Replaces a stale temporary file of the same name.
    int Create(const std::filesystem::path& path);
    bool IsOpen() const;
    // 0 or the code of the failed write. Writes `count` bytes at the end of what was written so
    // far.
    int Write(const void* data, size_t count);
    // 0 or kErrorInvalidHandle. Appends `count` zero bytes without writing them (a hole).
    int AppendZeros(uint64_t count);
    // Appends up to `count` bytes from the input's current position, copied by the kernel
    // without passing through this process. Returns the number of bytes copied; fewer than
    // `count` when the input ends or the copy fails, in which case the caller goes on with its
    // own read and write, which report the reason.
    size_t CopyFrom(InputFile& input, size_t count);
    // 0 or the code of the failure. Sets the final length, optionally flushes to the disk,
    // closes and renames the file into place. On failure the temporary file is removed.
    int Commit(bool sync);
    // Closes and removes the temporary file; the file at `path` is left as it was.
    void Discard();
    const std::filesystem::path& path() const { return path_; }
    // The system's words for the last failure ("No space left on device").
    const std::string& errorText() const { return errorText_; }

private:
    int Fail(int systemError);
    int fd_ = -1;
    std::FILE* stream_ = nullptr;  // where there are no file descriptors
    uint64_t length_ = 0;
    std::filesystem::path path_;
    std::filesystem::path tempPath_;
    std::string errorText_;
};

// Opens a C stream on `path` ("rb", "wb", ...), wide paths included. Null when the file cannot be
// opened or is a folder.
std::FILE* OpenCFile(const std::filesystem::path& path, const char* mode);

}  // namespace veltrix
