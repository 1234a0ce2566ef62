#pragma once
// The board's eMMC: a sparse file of a given size, written with pwrite and read through a shared
// mapping of the file (pread where it cannot be mapped). Only the sectors ever written take room
// on the disk.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace veltrix::sim {

inline constexpr uint32_t kSectorSize = 512;

class EmmcImage {
public:
    EmmcImage() = default;
    ~EmmcImage() { Close(); }
    EmmcImage(const EmmcImage&) = delete;
    EmmcImage& operator=(const EmmcImage&) = delete;

    // Opens `path` (created if missing, grown to `size` if smaller; its contents are kept), or,
    // with an empty path, a temporary file that Close removes. False with `error` on failure.
    bool Open(const std::filesystem::path& path, uint64_t size, std::string* error);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    uint64_t size() const { return size_; }
    const std::filesystem::path& path() const { return path_; }

    // False when the range runs past the end or the file cannot be read/written.
    bool Read(uint64_t offset, std::span<uint8_t> out) const;
    bool Write(uint64_t offset, std::span<const uint8_t> bytes);
    // Reads the whole range through a small buffer, as a device-side check would.
    bool ReadCheck(uint64_t offset, uint64_t length) const;
    // Every byte becomes zero again; the file's blocks are released.
    bool Erase();

private:
    bool InRange(uint64_t offset, uint64_t length) const;

    int fd_ = -1;
    const uint8_t* map_ = nullptr;  // the whole device, read-only view of the file
    uint64_t size_ = 0;
    bool temporary_ = false;
    std::filesystem::path path_;
};

}  // namespace veltrix::sim
