#pragma once
// Bytes read from the port but not yet used. The link reads what the port has buffered in one
// call and takes frames from here; what follows a reply's closing flag waits for the next
// exchange or raw read.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace veltrix {

class ReceiveBuffer {
public:
    explicit ReceiveBuffer(size_t capacity) : bytes_(capacity) {}

    bool Empty() const { return begin_ == end_; }
    std::span<const uint8_t> Pending() const {
        return std::span<const uint8_t>(bytes_).subspan(begin_, end_ - begin_);
    }
    // Marks the first `count` pending bytes as used.
    void Consume(size_t count) {
        begin_ += count < end_ - begin_ ? count : end_ - begin_;
        if (begin_ == end_) {
            Clear();
        }
    }
    void Clear() { begin_ = end_ = 0; }

    // Room to read into; only offered once everything pending was used, so that bytes stay
    // in arrival order.
    std::span<uint8_t> Space() {
        return Empty() ? std::span<uint8_t>(bytes_) : std::span<uint8_t>();
    }
    // Records that `count` bytes were read into Space().
    void Commit(size_t count) { end_ = begin_ + (count < bytes_.size() ? count : bytes_.size()); }

private:
    std::vector<uint8_t> bytes_;
    size_t begin_ = 0;
    size_t end_ = 0;
};

}  // namespace veltrix
