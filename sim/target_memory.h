#pragma once
// The AP's memory as the boot ROM fills it: what the host wrote with WRITE_32BIT, kept page by
// page so tests can compare it byte for byte with the uploaded file.

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace veltrix::sim {

class TargetMemory {
public:
    // Stores the bytes at `address` (the caller has checked that they do not wrap past 4 GiB).
    void Write(uint32_t address, std::span<const uint8_t> bytes);
    // `length` bytes from `address`; bytes never written read as zero.
    std::vector<uint8_t> Read(uint32_t address, size_t length) const;
    // Whether every byte of the range was written.
    bool Covers(uint32_t address, size_t length) const;
    // The written ranges in address order, adjacent ranges merged: (start, length).
    std::vector<std::pair<uint64_t, uint64_t>> WrittenRanges() const;
    uint64_t BytesWritten() const { return bytesWritten_; }
    void Clear();

private:
    static constexpr size_t kPageSize = 4096;
    struct Page {
        uint8_t data[kPageSize] = {};
        std::bitset<kPageSize> written;
    };
    std::map<uint32_t, std::unique_ptr<Page>> pages_;
    uint64_t bytesWritten_ = 0;  // counted per write, rewrites included
};

}  // namespace veltrix::sim
