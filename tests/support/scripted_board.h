#pragma once
// A board that follows a script on the master side of a PtyPair, on its own thread: "expect this
// request, answer that". Framed steps decode and check the host's HDLC frames (FCS included) and
// answer with correctly framed replies; raw steps carry the unframed Sahara bytes. Steps run in
// order; the first fault is recorded and ends the script.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pty_pair.h"

namespace veltrix::testing {

class ScriptedBoard {
public:
    // Answers one request body; nullopt stays silent.
    using Handler = std::function<std::optional<Bytes>(const Bytes& request)>;

    explicit ScriptedBoard(PtyPair& pty, int stepTimeoutMs = 3000)
        : pty_(pty), stepTimeoutMs_(stepTimeoutMs) {}
    ~ScriptedBoard();
    ScriptedBoard(const ScriptedBoard&) = delete;
    ScriptedBoard& operator=(const ScriptedBoard&) = delete;

    // The next frame's body (FCS removed) must be exactly `request`.
    ScriptedBoard& Expect(Bytes request) { return Add(Kind::kExpect, std::move(request)); }
    // The next frame, whatever it holds (recorded in Frames()).
    ScriptedBoard& ExpectAny() { return Add(Kind::kExpectAny); }
    // Sends `reply` as one frame (the FCS is added).
    ScriptedBoard& Answer(Bytes reply) { return Add(Kind::kAnswer, std::move(reply)); }
    ScriptedBoard& Exchange(Bytes request, Bytes reply) {
        return Expect(std::move(request)).Answer(std::move(reply));
    }
    // Answers every frame through `handler` until none comes for `idleMs`.
    ScriptedBoard& Serve(Handler handler, int idleMs = 400) {
        return Add(Kind::kServe, {}, idleMs, std::move(handler));
    }
    ScriptedBoard& SendRaw(Bytes bytes) { return Add(Kind::kSendRaw, std::move(bytes)); }
    // The next raw bytes must be exactly `bytes`.
    ScriptedBoard& ExpectRaw(Bytes bytes) { return Add(Kind::kExpectRaw, std::move(bytes)); }
    // Nothing may arrive for `ms` milliseconds.
    ScriptedBoard& ExpectQuiet(int ms = 150) { return Add(Kind::kQuiet, {}, ms); }

    // Runs the script on the board thread.
    void Start();
    // Waits for the script to end; returns the faults seen (empty when the host did as expected).
    std::vector<std::string> Finish();

    // Frame bodies the board received (read them after Finish).
    const std::vector<Bytes>& Frames() const { return frames_; }

private:
    enum class Kind { kExpect, kExpectAny, kAnswer, kServe, kSendRaw, kExpectRaw, kQuiet };
    struct Step {
        Kind kind;
        Bytes bytes;
        Handler handler;
        int ms = 0;
    };

    ScriptedBoard& Add(Kind kind, Bytes bytes = {}, int ms = 0, Handler handler = {}) {
        steps_.push_back({kind, std::move(bytes), std::move(handler), ms});
        return *this;
    }
    void Run();
    bool RunStep(size_t index, const Step& step);
    std::optional<Bytes> ReadFrameBody(int timeoutMs, std::string& fault);
    void SendFrame(const Bytes& body);

    PtyPair& pty_;
    int stepTimeoutMs_;
    std::vector<Step> steps_;
    std::thread thread_;
    std::vector<std::string> faults_;
    std::vector<Bytes> frames_;
};

}  // namespace veltrix::testing
