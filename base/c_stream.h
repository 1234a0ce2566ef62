#pragma once
// C streams opened by path for the stdio build of the file-I/O place, one file per C library:
// wide paths on Windows, and an exclusive create where the C runtime ignores fopen's "x" mode
// (the Windows one accepts "wbx" and truncates an existing file).

#include <cstdio>
#include <filesystem>

namespace veltrix {

// fopen with the mode ("rb", "wb", ...). Null with errno set when the file cannot be opened.
std::FILE* OpenPathStream(const std::filesystem::path& path, const char* mode);

// A new file at `path`, opened for binary writing. Null with errno EEXIST when the name is taken
// (by a link too, which is not followed), else with the errno of the failure.
std::FILE* CreateNewStream(const std::filesystem::path& path);

// The lock file `path`, created when missing and held open so that no other holder can have it
// at once (and removed when closed, where the system can). Null with errno EAGAIN when another
// holder has it, else with the errno of the failure.
std::FILE* OpenLockStream(const std::filesystem::path& path);

}  // namespace veltrix
