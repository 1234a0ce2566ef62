// ConnectProgrammer over a real pty: the HELLO and SECURITY MODE bytes on the wire, and the one
// attempt counter shared by both phases.
#include <gtest/gtest.h>

#include <string>

#include "link/framing/frame_codec.h"
#include "protocol/streaming.h"
#include "tests/protocol/host_fixture.h"

namespace veltrix::testing {
namespace {

Bytes HelloBytes() {
    const std::string text = "\x01QCOM fast download protocol host\x04\x02\x11";
    return Bytes(text.begin(), text.end());
}
const Bytes kSecurityMode = {0x17, 0x00};
const Bytes kHelloOk = {0x02, 'o', 'k'};
const Bytes kSecurityOk = {0x18, 0x00};
const Bytes kWrongCode = {0x0D};

using ConnectTest = HostTest;

Bytes Framed(const Bytes& body) {
    Bytes out(MaxEncodedLength(body.size()));
    out.resize(EncodeFrame(body, out.data()));
    return out;
}

// HELLO and SECURITY MODE share one counter of ten attempts, 500 ms apart; a second answer to
// HELLO (a board that answers twice) is purged before SECURITY MODE goes out.
TEST_F(ConnectTest, HandshakeBytesAndOneAttemptCounterForBothPhases) {
    const struct {
        int refusedHellos;
        int refusedSecurity;
        int result;
        size_t sleeps;
        bool helloTwice = false;
    } cases[] = {{0, 0, 0, 0}, {1, 1, 0, 2}, {3, 7, 6, 10}, {10, 0, 6, 10}, {0, 0, 0, 0, true}};
    ASSERT_EQ(HelloBytes().size(), 36u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusedHellos);
        ScriptedBoard rom(pty);
        for (int i = 0; i < c.refusedHellos; ++i) {
            rom.Exchange(HelloBytes(), kWrongCode);
        }
        if (c.helloTwice) {
            rom.Expect(HelloBytes()).SendRaw(Join({Framed(kHelloOk), Framed(kHelloOk)}));
        } else if (c.refusedHellos < 10) {
            rom.Exchange(HelloBytes(), kHelloOk);
        }
        for (int i = 0; i < c.refusedSecurity; ++i) {
            rom.Exchange(kSecurityMode, kWrongCode);
        }
        if (c.result == 0) {
            rom.Exchange(kSecurityMode, kSecurityOk);
        }
        rom.ExpectQuiet();  // after ten failed HELLOs, no SECURITY MODE
        rom.Start();
        const size_t before = clock.Sleeps().size();
        session.sectorAddressing = false;
        EXPECT_EQ(ConnectProgrammer(session), c.result);
        EXPECT_EQ(rom.Finish(), std::vector<std::string>{});
        EXPECT_TRUE(session.sectorAddressing);
        std::vector<uint32_t> waits = clock.Sleeps();
        waits.erase(waits.begin(), waits.begin() + static_cast<std::ptrdiff_t>(before));
        EXPECT_EQ(waits, std::vector<uint32_t>(c.sleeps, 500));
    }
}

}  // namespace
}  // namespace veltrix::testing
