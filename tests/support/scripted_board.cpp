#include "tests/support/scripted_board.h"

#include <cstdio>

#include "link/framing/frame_codec.h"

namespace veltrix::testing {
namespace {

// "01 02 ..." for fault messages.
std::string HexDump(const Bytes& bytes, size_t limit = 48) {
    std::string s;
    char item[8];
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(item, sizeof item, "%02X ", bytes[i]);
        s += item;
    }
    if (bytes.size() > limit) {
        s += "... (" + std::to_string(bytes.size()) + " bytes)";
    }
    return s;
}

}  // namespace

ScriptedBoard::~ScriptedBoard() {
    Finish();
}

void ScriptedBoard::Start() {
    thread_ = std::thread([this] { Run(); });
}

std::vector<std::string> ScriptedBoard::Finish() {
    if (thread_.joinable()) {
        thread_.join();
    }
    return faults_;
}

void ScriptedBoard::Run() {
    for (size_t i = 0; i < steps_.size(); ++i) {
        if (!RunStep(i, steps_[i])) {
            return;
        }
    }
}

bool ScriptedBoard::RunStep(size_t index, const Step& step) {
    const std::string where = "step " + std::to_string(index) + ": ";
    std::string fault;
    switch (step.kind) {
        case Kind::kExpect:
        case Kind::kExpectAny: {
            const auto body = ReadFrameBody(stepTimeoutMs_, fault);
            if (!body) {
                faults_.push_back(where + (fault.empty() ? "no frame came" : fault));
                return false;
            }
            if (step.kind == Kind::kExpect && *body != step.bytes) {
                faults_.push_back(where + "expected " + HexDump(step.bytes) + "got " +
                                  HexDump(*body));
                return false;
            }
            return true;
        }
        case Kind::kAnswer:
            SendFrame(step.bytes);
            return true;
        case Kind::kServe:
            for (;;) {
                const auto body = ReadFrameBody(step.ms, fault);
                if (!body) {
                    return fault.empty();  // quiet for idleMs: the host is done
                }
                if (auto reply = step.handler(*body)) {
                    SendFrame(*reply);
                }
            }
        case Kind::kSendRaw:
            pty_.Write(step.bytes);
            return true;
        case Kind::kExpectRaw: {
            const Bytes got = pty_.Read(step.bytes.size(), stepTimeoutMs_);
            if (got != step.bytes) {
                faults_.push_back(where + "expected raw " + HexDump(step.bytes) + "got " +
                                  HexDump(got));
                return false;
            }
            return true;
        }
        case Kind::kQuiet: {
            const Bytes got = pty_.Drain(step.ms);
            if (!got.empty()) {
                faults_.push_back(where + "expected silence, got " + HexDump(got));
                return false;
            }
            return true;
        }
    }
    return false;
}

std::optional<Bytes> ScriptedBoard::ReadFrameBody(int timeoutMs, std::string& fault) {
    const Bytes raw = pty_.ReadFrame(timeoutMs);
    if (raw.empty()) {
        return std::nullopt;  // no fault: nothing was sent
    }
    if (raw.back() != kFrameFlag) {
        fault = "incomplete frame " + HexDump(raw);
        return std::nullopt;
    }
    Bytes body(raw.size());
    body.resize(UnstuffFrame(raw, body.data()));
    if (body.size() < kFcsLength || !FrameFcsMatches(body)) {
        fault = "bad frame check in " + HexDump(raw);
        return std::nullopt;
    }
    body.resize(body.size() - kFcsLength);
    frames_.push_back(body);
    return body;
}

void ScriptedBoard::SendFrame(const Bytes& body) {
    Bytes raw(MaxEncodedLength(body.size()));
    raw.resize(EncodeFrame(body, raw.data()));
    pty_.Write(raw);
}

}  // namespace veltrix::testing
