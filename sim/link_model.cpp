#include "sim/link_model.h"

#include <algorithm>

namespace veltrix::sim {

LinkModel::LinkModel(uint32_t latencyUs, uint32_t mbps)
    : latency_(latencyUs), bytesPerSecond_(uint64_t{mbps} * 1000000 / 8) {}

LinkModel::Clock::duration LinkModel::Transmission(size_t bytes) const {
    if (bytesPerSecond_ == 0) {
        return Clock::duration::zero();
    }
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(
        static_cast<int64_t>(bytes) * 1000000000 / static_cast<int64_t>(bytesPerSecond_)));
}

LinkModel::Clock::time_point LinkModel::RequestTaken(size_t bytes) {
    inputFree_ = std::max(inputFree_, Clock::now()) + Transmission(bytes);
    lastTaken_ = inputFree_;
    return lastTaken_;
}

void LinkModel::Queue(std::vector<uint8_t> wire) {
    const Clock::time_point due =
        std::max(lastTaken_ + latency_, outputFree_) + Transmission(wire.size());
    outputFree_ = due;
    queue_.push_back({due, std::move(wire)});
}

std::vector<uint8_t> LinkModel::TakeNext() {
    std::vector<uint8_t> wire = std::move(queue_.front().wire);
    queue_.pop_front();
    return wire;
}

}  // namespace veltrix::sim
