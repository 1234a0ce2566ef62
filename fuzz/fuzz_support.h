#pragma once
// What the fuzz targets share: a reader over the fuzzer's bytes, a port that delivers chosen
// chunks and time-outs, a clock that does not wait, a private scratch folder, and a check that
// stops the run with a message.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "diag/run_view.h"
#include "link/clock.h"
#include "link/serial_port.h"
#include "tests/support/bench_scene.h"
#include "tests/support/transact_model.h"

#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

namespace veltrix {
class SerialLink;
}

namespace veltrix::fuzz {

using Bytes = std::vector<uint8_t>;

// Takes the fuzzer's bytes front to back; past the end everything reads as zero.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    size_t Left() const { return size_ - at_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    uint32_t U32() { return U16() | (static_cast<uint32_t>(U16()) << 16); }
    // Up to `count` bytes (fewer at the end).
    Bytes Take(size_t count) {
        count = count < Left() ? count : Left();
        Bytes out(data_ + at_, data_ + at_ + count);
        at_ += count;
        return out;
    }
    Bytes Rest() { return Take(Left()); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// The port of every fuzz target that talks to a board: it delivers chosen chunks and time-outs.
using ScriptedPort = testing::ChunkPort;

// Queues `bytes` on `port` split into chunks of 1..64 bytes as the input says.
void Deliver(Reader& in, ScriptedPort& port, const Bytes& bytes);

// Queues the board's answer to one request on `port`, as the input chooses: mostly `body` as one
// well-formed frame (now and then with a spoiled frame check, junk before it, a time-out before
// it, or split into chunks), else up to four raw chunks straight from the input.
void QueueReply(Reader& in, ScriptedPort& port, const Bytes& body);

// What Transact gives, exchange after exchange, for a port that delivers `chunks`: the reference
// the commands above Transact are judged against (Transact itself has fuzz_transact).
class ReferenceLink {
public:
    struct Exchange {
        int code = 0;
        Bytes reply;  // unstuffed, the two FCS bytes included; empty after a time-out
    };
    explicit ReferenceLink(const std::deque<Bytes>& chunks);
    // The next exchange, with a reply area of `capacity` raw bytes.
    Exchange Next(int capacity);

private:
    SerialLink& link_;  // one for every input: a link's buffers are large to set up
};

// The one link of a fuzz target, reused for every input (its buffers are large to set up), with
// `port` under it as an open port, whatever it held before dropped, the time-out back at 1000 ms,
// waits that take no time and a console nobody reads.
SerialLink& ScriptedLink(std::unique_ptr<ScriptedPort> port);

// Bytes as the link frames them for sending.
Bytes Framed(std::span<const uint8_t> body);

// A run view that keeps the run log as a list box would, and the message boxes.
class LineView final : public RunView {
public:
    void InsertLogLine(int position, const std::string& text) override {
        lines.insert(lines.begin() + position, text);
    }
    void DeleteLogLine(int position) override { lines.erase(lines.begin() + position); }
    void SelectLastLogLine() override {}
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void PushStatus(const std::string&) override {}
    void SetProgress(int) override {}
    void SetResultBox(ResultBox, const std::string&) override {}
    void ClearLog() override { lines.clear(); }
    std::vector<std::string> lines;
    std::vector<std::string> messages;
};

// A clock whose waits take no time.
class NoWaitClock final : public Clock {
public:
    void Sleep(uint32_t) override {}
    int64_t NowSeconds() override { return 0; }
};

// A folder of this process's own (on a memory file system where there is one), removed when the
// process ends normally.
const std::filesystem::path& ScratchFolder();
using testing::ListFolder;
using testing::ReadBytes;
using testing::WriteBytes;

}  // namespace veltrix::fuzz
