#include "sim/emmc_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace veltrix::sim {
namespace fs = std::filesystem;

bool EmmcImage::Open(const fs::path& path, uint64_t size, std::string* error) {
    Close();
    if (size == 0 || size % kSectorSize != 0) {
        *error = "eMMC size must be a non-zero multiple of 512 bytes";
        return false;
    }
    if (path.empty()) {
        std::string templ = (fs::temp_directory_path() / "veltrix-emmc-XXXXXX").string();
        fd_ = mkostemp(templ.data(), O_CLOEXEC);
        path_ = templ;
        temporary_ = true;
    } else {
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        path_ = path;
        temporary_ = false;
    }
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0) {
        *error = "cannot open eMMC file " + path_.string() + ": " + std::strerror(errno);
        Close();
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) < size && ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        *error = "cannot size eMMC file " + path_.string() + ": " + std::strerror(errno);
        Close();
        return false;
    }
    size_ = size;
    return true;
}

void EmmcImage::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (temporary_) {
        std::error_code ec;
        fs::remove(path_, ec);
        temporary_ = false;
    }
    size_ = 0;
}

bool EmmcImage::InRange(uint64_t offset, uint64_t length) const {
    return fd_ >= 0 && offset <= size_ && length <= size_ - offset;
}

bool EmmcImage::Read(uint64_t offset, std::span<uint8_t> out) const {
    if (!InRange(offset, out.size())) {
        return false;
    }
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n =
            pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // Past the file's end of a kept image that was smaller: zeros, as on a fresh device.
            std::memset(out.data() + done, 0, out.size() - done);
            return n == 0;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool EmmcImage::Write(uint64_t offset, std::span<const uint8_t> bytes) {
    if (!InRange(offset, bytes.size())) {
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = pwrite(fd_, bytes.data() + done, bytes.size() - done,
                                 static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool EmmcImage::ReadCheck(uint64_t offset, uint64_t length) const {
    if (!InRange(offset, length)) {
        return false;
    }
    std::vector<uint8_t> buffer(64 * 1024);
    for (uint64_t done = 0; done < length;) {
        const uint64_t piece = std::min<uint64_t>(buffer.size(), length - done);
        if (!Read(offset + done, {buffer.data(), static_cast<size_t>(piece)})) {
            return false;
        }
        done += piece;
    }
    return true;
}

bool EmmcImage::Erase() {
    if (fd_ < 0) {
        return false;
    }
    return ftruncate(fd_, 0) == 0 && ftruncate(fd_, static_cast<off_t>(size_)) == 0;
}

}  // namespace veltrix::sim
