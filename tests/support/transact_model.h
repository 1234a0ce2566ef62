#pragma once
// The board link's reply collection as it is meant to work, one byte per read: the reference
// Transact's chunked collection is held against (link/transact_model_test and fuzz_transact).
// Header only and portable.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/result_codes.h"
#include "link/framing/frame_codec.h"

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

}  // namespace veltrix::testing
