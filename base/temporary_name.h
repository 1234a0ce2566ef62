#pragma once
// The name of an output's temporary file, shared by both builds of the file-I/O place.

#include <cstddef>
#include <filesystem>

namespace veltrix {

// The longest file name (one path component, in UTF-8 bytes) the temporary name may have: what
// the usual file systems allow (255 bytes; 255 UTF-16 units on NTFS hold at least as much).
inline constexpr size_t kMaxFileNameBytes = 255;

// "<name>.XXXXXX.tmp" beside `path`, with six characters no one can guess ahead of time. The
// name is cut (never inside a UTF-8 sequence) where the whole would pass kMaxFileNameBytes, so a
// name that is itself near the limit still gets a temporary file.
std::filesystem::path TemporaryPathBeside(const std::filesystem::path& path);

}  // namespace veltrix
