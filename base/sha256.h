#pragma once
// SHA-256 of a file, for the run record: a repair shop proves later which dump it kept.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace veltrix {

class Sha256 {
public:
    Sha256();
    void Update(const uint8_t* data, size_t length);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const uint8_t* block);
    uint32_t state_[8];
    uint8_t pending_[64];
    size_t pendingLength_ = 0;
    uint64_t totalLength_ = 0;
};

// The file's digest and size, or nothing when it cannot be read.
struct FileDigest {
    uint64_t size = 0;
    std::string sha256;
};
std::optional<FileDigest> DigestFile(const std::filesystem::path& path);

}  // namespace veltrix
