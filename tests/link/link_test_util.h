#pragma once
// Shared pieces of the link tests: frames built by the codec, a link opened on a pseudo-terminal
// whose master plays the board, and a watcher of the slave's input queue.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <thread>
#include <vector>

#include "link/framing/frame_codec.h"
#include "link/serial_link.h"
#include "tests/support/pty_pair.h"

namespace veltrix::testing {

using Bytes = std::vector<uint8_t>;

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

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class LinkOverPty : public ::testing::Test {
protected:
    void SetUp() override {
        // Opened before the link takes the port, so the exclusive flag never keeps it out.
        observer_ = ::open(pty.slavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(observer_, 0);
        link.console = &console;
        SetLinkTimeout(link, kGenerousMs);
        if (OpenOnSetUp()) {
            ASSERT_EQ(OpenPort(link, pty.portNumber()), 0);
        }
    }
    void TearDown() override {
        ClosePort(link);
        if (observer_ >= 0)
            ::close(observer_);
    }
    virtual bool OpenOnSetUp() const { return true; }

    // Waits (bounded) until the slave's input queue holds at least `count` bytes.
    bool WaitQueued(int count) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            int queued = 0;
            if (ioctl(observer_, FIONREAD, &queued) == 0 && queued >= count)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    int Queued() const {
        int queued = 0;
        ioctl(observer_, FIONREAD, &queued);
        return queued;
    }

    // One exchange; returns the reply (resized to replyLength) and the code in `*code`.
    Bytes Exchange(const Bytes& request, int capacity, int* code) {
        Bytes reply(static_cast<size_t>(capacity));
        int length = capacity;
        *code =
            Transact(request.data(), static_cast<int>(request.size()), link, reply.data(), length);
        reply.resize(static_cast<size_t>(*code == 0 ? length : 0));
        return reply;
    }

    std::ostringstream console;
    PtyPair pty{7};
    SerialLink link;

private:
    int observer_ = -1;
};

}  // namespace veltrix::testing
