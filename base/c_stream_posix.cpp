// The stdio build's streams on a POSIX C library, whose "x" mode is O_EXCL.

#include "base/c_stream.h"

namespace veltrix {

std::FILE* OpenPathStream(const std::filesystem::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

std::FILE* CreateNewStream(const std::filesystem::path& path) {
    return std::fopen(path.c_str(), "wbx");
}

}  // namespace veltrix
