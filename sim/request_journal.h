#pragma once
// The last requests a board took, their first bytes each, for tests: a ring of fixed entries, so
// that keeping it costs no allocation per request.

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace veltrix::sim {

class JournalRing {
public:
    static constexpr size_t kEntryBytes = 16;
    static constexpr size_t kEntries = 4096;

    void Add(std::span<const uint8_t> request) {
        Entry& e = ring_[(first_ + count_) % kEntries];
        e.length = static_cast<uint8_t>(std::min(request.size(), kEntryBytes));
        std::copy_n(request.begin(), e.length, e.bytes.begin());
        if (count_ < kEntries) {
            ++count_;
        } else {
            first_ = (first_ + 1) % kEntries;
        }
    }
    void Clear() { first_ = count_ = 0; }
    // The entries, oldest first.
    std::vector<std::vector<uint8_t>> Entries() const {
        std::vector<std::vector<uint8_t>> out;
        out.reserve(count_);
        for (size_t i = 0; i < count_; ++i) {
            const Entry& e = ring_[(first_ + i) % kEntries];
            out.emplace_back(e.bytes.begin(), e.bytes.begin() + e.length);
        }
        return out;
    }

private:
    struct Entry {
        std::array<uint8_t, kEntryBytes> bytes{};
        uint8_t length = 0;
    };
    std::vector<Entry> ring_ = std::vector<Entry>(kEntries);
    size_t first_ = 0;
    size_t count_ = 0;
};

}  // namespace veltrix::sim
