#pragma once
// The board link's reply collection as it is meant to work, one byte per read: the reference
// Transact's chunked collection is held against (link/transact_model_test and the fuzz targets),
// and the port that delivers a stream in chosen chunks. Header only and portable.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "base/result_codes.h"
#include "link/framing/frame_codec.h"
#include "link/serial_port.h"

namespace veltrix::testing {

struct ModelOutcome {
    int code = 0;
    std::vector<uint8_t> reply;  // unstuffed, FCS included; empty for no answer
    bool operator==(const ModelOutcome&) const = default;
};

// One exchange over `stream` from `at`: bytes, and time-outs (-1, a read that came back empty).
// At most `limit` bytes (the frame buffer) are collected; a raw frame longer than `capacity` is
// kErrorNotEnoughMemory; a time-out, no closing flag within the limit or a wrong FCS is no answer.
inline ModelOutcome ModelTransact(const std::vector<int>& stream, size_t& at, size_t capacity,
                                  size_t limit) {
    std::vector<uint8_t> raw(limit);
    size_t position = 0;
    size_t rawLength = 0;
    for (size_t step = 0; step < limit && rawLength == 0; ++step) {
        if (at >= stream.size() || stream[at] < 0) {
            at += at < stream.size() ? 1 : 0;
            return {};
        }
        const auto b = static_cast<uint8_t>(stream[at++]);
        raw[position] = b;
        if (b != kFrameFlag) {
            ++position;
        } else if (position >= 2) {
            rawLength = position + 1;
        } else {
            position = 1;
        }
    }
    if (rawLength == 0) {
        return {};
    }
    if (rawLength > capacity) {
        return {kErrorNotEnoughMemory, {}};
    }
    std::vector<uint8_t> reply(rawLength);
    reply.resize(UnstuffFrame({raw.data(), rawLength}, reply.data()));
    return FrameFcsMatches(reply) ? ModelOutcome{0, reply} : ModelOutcome{};
}

// A port whose reads deliver `chunks` in order: an empty chunk is a read that times out, and once
// they are used up every read times out. Everything written is kept.
class ChunkPort final : public SerialPort {
public:
    int Open(const std::filesystem::path&) override { return 0; }
    void Close() override {}
    bool IsOpen() const override { return true; }
    void SetTimeout(uint32_t) override {}
    int Read(uint8_t* buffer, size_t capacity, size_t* got) override {
        ++reads;
        *got = 0;
        if (!chunks.empty()) {
            std::vector<uint8_t>& chunk = chunks.front();
            *got = std::min(capacity, chunk.size());
            std::copy_n(chunk.begin(), *got, buffer);
            chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(*got));
            if (chunk.empty()) {
                chunks.pop_front();
            }
        }
        return 0;
    }
    int Write(const uint8_t* bytes, size_t length) override {
        written.insert(written.end(), bytes, bytes + length);
        return 0;
    }
    void Purge() override {}
    void WatchCancel(const std::atomic<bool>*) override {}
    std::string LastErrorText() const override { return "scripted"; }

    std::deque<std::vector<uint8_t>> chunks;
    std::vector<uint8_t> written;
    size_t reads = 0;
};

}  // namespace veltrix::testing
