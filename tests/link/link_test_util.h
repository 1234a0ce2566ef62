#pragma once
// Shared pieces of the link tests: frames built by the codec, and a link opened on a
// pseudo-terminal whose master plays the board.

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "link/framing/frame_codec.h"
#include "link/serial_link.h"
#include "tests/support/pty_pair.h"

namespace veltrix::testing {

// Silence tests wait this long; tests that expect data use kGenerousMs, so that a loaded
// machine never turns a late byte into a failure.
inline constexpr uint32_t kShortMs = 30;
inline constexpr uint32_t kGenerousMs = 3000;

inline Bytes Frame(const Bytes& body) {
    Bytes out(MaxEncodedLength(body.size()));
    out.resize(EncodeFrame(body, out.data()));
    return out;
}

// The reply a caller sees for a frame around `body`: the body and its two FCS bytes.
inline Bytes WithFcs(const Bytes& body) {
    Bytes wire = Frame(body);
    Bytes out(wire.size());
    out.resize(UnstuffFrame(wire, out.data()));
    return out;
}

class LinkOverPty : public ::testing::Test {
protected:
    void SetUp() override {
        link.SetTimeout(kGenerousMs);
        ASSERT_EQ(link.Open(pty.portNumber()), 0);
    }

    // Waits (bounded) until the port's input queue holds at least `count` bytes.
    bool WaitQueued(int count) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            if (Queued() >= count) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    int Queued() const {
        int queued = 0;
        ioctl(pty.slave(), FIONREAD, &queued);
        return queued;
    }

    // One exchange; returns the reply (resized to replyLength) and the code in `*code`.
    Bytes Exchange(const Bytes& request, int capacity, int* code = nullptr) {
        Bytes reply(static_cast<size_t>(capacity));
        int length = capacity;
        const int rc =
            link.Transact(request.data(), static_cast<int>(request.size()), reply.data(), length);
        if (code) {
            *code = rc;
        }
        reply.resize(static_cast<size_t>(rc == 0 ? length : 0));
        return reply;
    }

    std::ostringstream console;
    PtyPair pty{7};
    SerialLink link{SystemClock::Instance(), &console};
};

}  // namespace veltrix::testing
