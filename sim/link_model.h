#pragma once
// The line between host and board as a USB link makes it: every answer leaves `latency` after its
// request came whole, answers keep the order of their requests, and each direction carries at
// most a set number of bytes per second. The board thread queues its answers here and writes
// them when they are due; with no latency and no rate cap nothing is queued.

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

namespace veltrix::sim {

class LinkModel {
public:
    using Clock = std::chrono::steady_clock;

    // `latencyUs` per answer; `mbps` megabits per second in each direction (0: no cap).
    LinkModel(uint32_t latencyUs, uint32_t mbps);

    // Something to model: a latency or a rate cap.
    bool Active() const { return latency_.count() > 0 || bytesPerSecond_ > 0; }

    // A request of `bytes` bytes has been read now: when it has come whole through the capped
    // line (the board takes it then, not before).
    Clock::time_point RequestTaken(size_t bytes);
    // The answer to the request taken last, due `latency` after it and after the answer before
    // it has gone through the capped line.
    void Queue(std::vector<uint8_t> wire);

    bool Pending() const { return !queue_.empty(); }
    Clock::time_point NextDue() const { return queue_.front().due; }
    // Takes the next answer off the queue once it is due.
    std::vector<uint8_t> TakeNext();
    // Forgets what is queued (the host went away).
    void Drop() { queue_.clear(); }

private:
    Clock::duration Transmission(size_t bytes) const;

    struct Due {
        Clock::time_point due;
        std::vector<uint8_t> wire;
    };
    std::chrono::microseconds latency_;
    uint64_t bytesPerSecond_;
    Clock::time_point inputFree_{};   // when the line towards the board is free again
    Clock::time_point outputFree_{};  // when the line towards the host is free again
    Clock::time_point lastTaken_{};
    std::deque<Due> queue_;
};

}  // namespace veltrix::sim
