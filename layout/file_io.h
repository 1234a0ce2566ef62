#pragma once
// Plain file I/O for the image files: an input read front to back, and an output that is written
// under a temporary name and renamed into place only when it is complete, so a failed write never
// leaves a truncated file where a good one stood. Failures carry the system's errno value.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace veltrix {

class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // 0 or errno. An existing file only.
    int Open(const std::filesystem::path& path);
    bool IsOpen() const { return fd_ >= 0; }
    // Reads until `count` bytes have arrived or the file ends. Returns the number of bytes read,
    // or -1 on a read error (errno in error()).
    long long ReadFull(void* buffer, size_t count);
    int error() const { return error_; }
    void Close();

private:
    int fd_ = -1;
    int error_ = 0;
};

// An output file written to "<path>.tmp" and renamed to `path` by Commit. Runs of zero bytes may
// be left as holes; the content read back is the same.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // discards an uncommitted file
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // 0 or errno. Replaces a stale temporary file of the same name.
    int Create(const std::filesystem::path& path);
    bool IsOpen() const { return fd_ >= 0; }
    // 0 or errno. Writes `count` bytes at the end of what was written so far.
    int Write(const void* data, size_t count);
    // 0 or errno. Appends `count` zero bytes without writing them (a hole).
    int AppendZeros(uint64_t count);
    // 0 or errno. Sets the final length, optionally flushes to the disk, closes and renames the
    // file into place. On failure the temporary file is removed.
    int Commit(bool sync);
    // Closes and removes the temporary file; the file at `path` is left as it was.
    void Discard();
    const std::filesystem::path& path() const { return path_; }

private:
    int fd_ = -1;
    uint64_t length_ = 0;
    std::filesystem::path path_;
    std::filesystem::path tempPath_;
};

// The system's text for an errno value ("No space left on device").
std::string ErrorText(int error);

}  // namespace veltrix
