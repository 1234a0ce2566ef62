#pragma once
// The one place where file paths reach the system: plain file I/O for the image files (an input
// read front to back, and an output written under a temporary name and renamed into place only
// when it is complete, so a failed write never leaves a truncated file where a good one stood;
// the temporary file is always a new one, so a link planted in the folder is never followed),
// and C streams opened by path where paths are wide strings too. Failures return the named codes
// of base/result_codes.h; errorText() keeps the system's words for the diagnostic line.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace veltrix {

// What a path names; a final symbolic link is not followed (KindOfPath) or followed (an open
// InputFile's kind).
enum class PathKind { kNone, kRegular, kFolder, kLink, kFifo, kDevice, kSocket, kOther };
PathKind KindOfPath(const std::filesystem::path& path);
// "a symbolic link", "a FIFO", "a device", "a folder", "a socket", "not a regular file";
// "nothing" for kNone and "a regular file" for kRegular.
const char* PathKindText(PathKind kind);

class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // 0, or the code of the failed open (kErrorDirectory for a folder). An existing file only.
    // A FIFO is opened without waiting for a writer.
    int Open(const std::filesystem::path& path);
    // Open, then refuses anything but a regular file of at most `maxBytes` (the file is closed):
    // kErrorNotRegularFile for a FIFO, a device or a socket (such an input may never end),
    // kErrorFileTooLarge for a longer file; errorText() says which and how large.
    int OpenBounded(const std::filesystem::path& path, uint64_t maxBytes);
    bool IsOpen() const;
    // What the open file is (links followed) and its length in bytes (0 unless regular).
    PathKind kind() const { return kind_; }
    uint64_t size() const { return size_; }
    // Reads until `count` bytes have arrived or the file ends. Returns the number of bytes read,
    // or -1 on a read error (its code in error(), its words in errorText()).
    long long ReadFull(void* buffer, size_t count);
    int error() const { return error_; }
    const std::string& errorText() const { return errorText_; }
    void Close();
    // True when `path` itself (a final link is not followed: renaming over a link replaces the
    // link) is this open file, under its name or another hard link.
    bool SameFileAs(const std::filesystem::path& path) const;

private:
    friend class OutputFile;
    int Fail(int systemError);
    int fd_ = -1;
    [[maybe_unused]] std::FILE* stream_ = nullptr;     // where there are no file descriptors
    [[maybe_unused]] std::filesystem::path openPath_;  // the same
    PathKind kind_ = PathKind::kNone;
    uint64_t size_ = 0;
    int error_ = 0;
    std::string errorText_;
};

// An output file written to a new temporary file "<path>.XXXXXX.tmp" beside `path` (its name
// cut where the whole would be longer than a file system allows) and renamed
// to `path` by Commit. The temporary file is created exclusively under a name of its own: an
// existing file or link of that name is never opened or followed. Only a regular file (or
// nothing) at `path` is ever replaced: Create and Commit refuse a link, a FIFO, a device or a
// folder there with kErrorNotRegularFile (or kErrorDirectory), and errorText() names what it
// is. Runs of zero bytes may be left as holes; the content read back is the same.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // discards an uncommitted file
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // 0 or the code of the failed create (kErrorNotRegularFile when `path` names something
    // that must not be replaced).
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
    // The temporary file being written (empty when none).
    const std::filesystem::path& temporaryPath() const { return tempPath_; }
    // The system's words for the last failure ("No space left on device").
    const std::string& errorText() const { return errorText_; }

private:
    int Fail(int systemError);
    // kErrorSuccess when `path_` names a regular file or nothing; else the refusal, with words.
    int CheckReplaceable();
    int fd_ = -1;
    [[maybe_unused]] std::FILE* stream_ = nullptr;  // where there are no file descriptors
    uint64_t length_ = 0;
    std::filesystem::path path_;
    std::filesystem::path tempPath_;
    std::string errorText_;
};

// An exclusive lock on a folder for as long as the object holds it, so that two programs (or
// two threads) never write their outputs into one folder at once. On POSIX systems the folder
// itself is locked and nothing is created in it; elsewhere a lock file ".veltrix.lock" in the
// folder is held open without sharing (and goes when it is closed).
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();  // releases
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // 0; kErrorLockViolation when another holder has the folder; or the code of the failure to
    // open the folder (or its lock file), its words in errorText().
    int Acquire(const std::filesystem::path& folder);
    void Release();
    const std::string& errorText() const { return errorText_; }

private:
    [[maybe_unused]] int fd_ = -1;                  // where there are file descriptors
    [[maybe_unused]] std::FILE* stream_ = nullptr;  // where there are none
    std::string errorText_;
};

// Removes the file (or link) `path`. 0 when it is gone or was never there (`*removed` tells which,
// when given); otherwise the code of the failure, its words in `*reason` when given. A folder is
// not removed (kErrorDirectory).
int RemoveFile(const std::filesystem::path& path, bool* removed = nullptr,
               std::string* reason = nullptr);

// Creates `path` as a new, empty file, exclusively: whatever has the name already (a file, or a
// link, which is not followed) is refused with kErrorFileExists and left as it was. OutputFile
// makes its temporary files so. 0 or the code of the failure, its words in `*reason` when given.
int CreateNewFile(const std::filesystem::path& path, std::string* reason = nullptr);

// Reads the whole of `path`, a regular file of at most `maxBytes`, into `out`. 0, or the code of
// the failed open or read, kErrorNotRegularFile or kErrorFileTooLarge (nothing read then); the
// words for the line in `*reason` when given.
int ReadSmallFile(const std::filesystem::path& path, uint64_t maxBytes, std::string& out,
                  std::string* reason = nullptr);

// Opens a C stream on `path` ("rb", "wb", ...), wide paths included. Null when the file cannot be
// opened or is a folder.
std::FILE* OpenCFile(const std::filesystem::path& path, const char* mode);

}  // namespace veltrix
