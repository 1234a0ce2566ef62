#include "sim/emmc_image.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
    // A READ of the programmer then costs a copy, not a system call. Writes keep going through
    // the file, which the mapping shares.
    void* map = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd_, 0);
    map_ = map == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(map);
    return true;
}

void EmmcImage::Close() {
    if (map_ != nullptr) {
        munmap(const_cast<uint8_t*>(map_), size_);
        map_ = nullptr;
    }
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
    if (map_ != nullptr) {
        std::memcpy(out.data(), map_ + offset, out.size());
        return true;
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
    // Holes read as zeros without looking: only the written stretches are read, so a check of
    // a large, mostly empty device stays quick.
    std::vector<uint8_t> buffer(64 * 1024);
    const uint64_t end = offset + length;
    uint64_t at = offset;
    while (at < end) {
        const off_t data = lseek(fd_, static_cast<off_t>(at), SEEK_DATA);
        if (data < 0) {
            return errno == ENXIO;  // nothing but a hole up to the file's end
        }
        const off_t hole = lseek(fd_, data, SEEK_HOLE);
        const uint64_t stop = std::min<uint64_t>(end, hole < 0 ? end : static_cast<uint64_t>(hole));
        for (at = static_cast<uint64_t>(data); at < stop;) {
            const uint64_t piece = std::min<uint64_t>(buffer.size(), stop - at);
            if (!Read(at, {buffer.data(), static_cast<size_t>(piece)})) {
                return false;
            }
            at += piece;
        }
        at = std::max(at, stop);
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
