// ConnectProgrammer over a real pty: the HELLO and SECURITY MODE bytes on the wire, and the one
// attempt counter shared by both phases.
#include <gtest/gtest.h>

#include <string>

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

TEST_F(ConnectTest, SendsTheHandshakeBytesAndTurnsOnSectorAddressing) {
    ASSERT_EQ(HelloBytes().size(), 36u);
    board.Exchange(HelloBytes(), kHelloOk).Exchange(kSecurityMode, kSecurityOk).ExpectQuiet();
    EXPECT_EQ(RunWithBoard([&] { return ConnectProgrammer(session); }), 0);
    EXPECT_TRUE(session.sectorAddressing);
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(ConnectTest, ThreeUnansweredHellosLeaveSevenSecurityAttempts) {
    for (int i = 0; i < 3; ++i)
        board.Exchange(HelloBytes(), kWrongCode);
    board.Exchange(HelloBytes(), kHelloOk);
    for (int i = 0; i < 7; ++i)
        board.Exchange(kSecurityMode, kWrongCode);
    board.ExpectQuiet();
    EXPECT_EQ(RunWithBoard([&] { return ConnectProgrammer(session); }), 6);
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>(10, 500));
}

TEST_F(ConnectTest, LateSecurityAnswerStillConnects) {
    board.Exchange(HelloBytes(), kWrongCode).Exchange(HelloBytes(), kHelloOk);
    board.Exchange(kSecurityMode, kWrongCode).Exchange(kSecurityMode, kSecurityOk);
    EXPECT_EQ(RunWithBoard([&] { return ConnectProgrammer(session); }), 0);
    EXPECT_EQ(clock.Sleeps().size(), 2u);
}

TEST_F(ConnectTest, TenSilentHellosGiveUpWithoutSecurityMode) {
    SetLinkTimeout(link, 40);
    int hellos = 0;
    board.Serve([&](const Bytes& request) -> std::optional<Bytes> {
        EXPECT_EQ(request, HelloBytes()) << "only HELLO may be sent";
        ++hellos;
        return std::nullopt;
    });
    EXPECT_EQ(RunWithBoard([&] { return ConnectProgrammer(session); }), 6);
    EXPECT_TRUE(session.sectorAddressing);
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>(10, 500));
    EXPECT_GE(hellos, 1);  // a purge may drop a HELLO the board had not read yet
}

}  // namespace
}  // namespace veltrix::testing
