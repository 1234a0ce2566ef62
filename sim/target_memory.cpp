#include "sim/target_memory.h"

namespace veltrix::sim {

void TargetMemory::Write(uint32_t address, std::span<const uint8_t> bytes) {
    uint64_t a = address;
    for (uint8_t b : bytes) {
        auto& page = pages_[static_cast<uint32_t>(a / kPageSize)];
        if (!page) {
            page = std::make_unique<Page>();
        }
        page->data[a % kPageSize] = b;
        page->written.set(a % kPageSize);
        ++a;
    }
    bytesWritten_ += bytes.size();
}

std::vector<uint8_t> TargetMemory::Read(uint32_t address, size_t length) const {
    std::vector<uint8_t> out(length, 0);
    for (size_t i = 0; i < length; ++i) {
        const uint64_t a = uint64_t{address} + i;
        const auto it = pages_.find(static_cast<uint32_t>(a / kPageSize));
        if (it != pages_.end()) {
            out[i] = it->second->data[a % kPageSize];
        }
    }
    return out;
}

bool TargetMemory::Covers(uint32_t address, size_t length) const {
    for (size_t i = 0; i < length; ++i) {
        const uint64_t a = uint64_t{address} + i;
        const auto it = pages_.find(static_cast<uint32_t>(a / kPageSize));
        if (it == pages_.end() || !it->second->written.test(a % kPageSize)) {
            return false;
        }
    }
    return true;
}

std::vector<std::pair<uint64_t, uint64_t>> TargetMemory::WrittenRanges() const {
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (const auto& [index, page] : pages_) {
        for (size_t i = 0; i < kPageSize; ++i) {
            if (!page->written.test(i)) {
                continue;
            }
            const uint64_t a = uint64_t{index} * kPageSize + i;
            if (!ranges.empty() && ranges.back().first + ranges.back().second == a) {
                ++ranges.back().second;
            } else {
                ranges.emplace_back(a, 1);
            }
        }
    }
    return ranges;
}

void TargetMemory::Clear() {
    pages_.clear();
    bytesWritten_ = 0;
}

}  // namespace veltrix::sim
