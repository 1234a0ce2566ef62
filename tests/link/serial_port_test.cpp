// Opening, closing and holding the port, the raw byte path over real pseudo-terminals, and what
// the link hands to the port beneath it.

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <functional>

#include "link/ports/port_names.h"
#include "protocol/streaming.h"
#include "tests/link/link_test_util.h"

namespace veltrix::testing {
namespace {

namespace fs = std::filesystem;

TEST(PortOpen, ClosedLinkDoesNothingAndPortsResolveThroughTheFolder) {
    PtyPair pty(7);
    SerialLink link;
    Bytes reply(8);
    int length = 8;
    EXPECT_EQ(link.Transact(Bytes{0x06}.data(), 1, reply.data(), length), kErrorInvalidHandle);
    EXPECT_EQ(length, 8);
    EXPECT_EQ(link.WriteRaw(Bytes{0x01}.data(), 1), kErrorInvalidHandle);
    EXPECT_EQ(link.ReadRaw(reply.data(), 8), 0);
    link.Purge();
    link.Close();
    EXPECT_EQ(pty.Drain(), Bytes{});

    EXPECT_EQ(PortDevicePath(7), pty.portsFolder() / "COM7");
    EXPECT_EQ(PortDevicePath(3), fs::path("/dev/ttyUSB2"));  // no link COM3: the USB fallback
    fs::create_symlink(pty.portsFolder() / "gone", pty.portsFolder() / "COM9");
    WriteText(pty.portsFolder() / "plain", "not a tty");
    fs::create_symlink(pty.portsFolder() / "plain", pty.portsFolder() / "COM8");
    const struct {
        int port;
        int code;
    } cases[] = {
        {4242, kErrorFileNotFound},  // no link, no /dev/ttyUSB4241
        {9, kErrorFileNotFound},     // a link whose device went away
        {8, kErrorIoDevice},         // not a terminal: refused, not half-opened
    };
    for (const auto& c : cases) {
        ASSERT_EQ(link.Open(7), 0);  // a failed open also leaves an open link closed
        EXPECT_EQ(link.Open(c.port), c.code) << c.port;
        EXPECT_FALSE(link.IsOpen()) << c.port;
    }
}

TEST(PortOpen, PortIsHeldExclusively) {
    PtyPair pty(7);
    SerialLink link, second;
    ASSERT_EQ(link.Open(7), 0);
    EXPECT_EQ(second.Open(7), kErrorPortBusy);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_NE(second.FailureText().find("held by another process"), std::string::npos);
    // Reopening the same link closes its earlier handle first, or its own lock would refuse it.
    EXPECT_EQ(link.Open(7), 0);
    EXPECT_EQ(second.Open(7), kErrorPortBusy);
    link.Close();
    EXPECT_EQ(second.Open(7), 0);
    EXPECT_EQ(second.WriteRaw(Bytes{0x5A}.data(), 1), 0);
    EXPECT_EQ(pty.Read(1), Bytes{0x5A});
}

// A tty left in its default (cooked) mode would echo, rewrite \n, eat 0x03 and XON/XOFF: the
// port must pass every byte value unchanged both ways.
TEST(PortOpen, EveryByteValuePassesAPreviouslyCookedTty) {
    PtyPair pty(7);
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slave(), &t), 0);
    t.c_iflag |= ICRNL | IXON | IXOFF;
    t.c_oflag |= OPOST | ONLCR;
    t.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    ASSERT_EQ(tcsetattr(pty.slave(), TCSANOW, &t), 0);

    SerialLink link;
    link.SetTimeout(kGenerousMs);
    ASSERT_EQ(link.Open(7), 0);
    Bytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    }
    EXPECT_EQ(link.WriteRaw(all.data(), 256), 0);
    EXPECT_EQ(pty.Read(256), all);
    pty.Write(all);
    Bytes got(300);
    size_t have = 0;
    for (int n;
         have < 256 && (n = link.ReadRaw(got.data() + have, 300 - static_cast<int>(have))) > 0;) {
        have += static_cast<size_t>(n);
    }
    got.resize(have);
    EXPECT_EQ(got, all);
    EXPECT_EQ(pty.Drain(), Bytes{});  // nothing echoed back
}

TEST_F(LinkOverPty, RawReadsAndWritesAndTheirLimits) {
    const Bytes sahara = {0x01, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00};
    EXPECT_EQ(link.WriteRaw(sahara.data(), 8), 0);
    EXPECT_EQ(pty.Read(8), sahara);
    pty.Write(sahara);
    ASSERT_TRUE(WaitQueued(8));
    uint8_t buffer[16];
    EXPECT_EQ(link.ReadRaw(buffer, 3), 3);
    EXPECT_EQ(link.ReadRaw(buffer + 3, 16), 5);
    EXPECT_EQ(Bytes(buffer, buffer + 8), sahara);

    // Bytes that followed a reply's closing flag come first.
    pty.Write(Frame({0x02}));
    pty.Write({0x11, 0x22, 0x33});
    ASSERT_TRUE(WaitQueued(8));
    EXPECT_EQ(Exchange({0x01}, 64), WithFcs({0x02}));
    EXPECT_EQ(link.ReadRaw(buffer, 16), 3);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0x11, 0x22, 0x33}));

    link.SetTimeout(kShortMs);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.ReadRaw(buffer, 16), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kShortMs));
    // Nobody reads the master: the pty's queue fills and the write must give up.
    const Bytes lots(1 << 20, 0x33);
    EXPECT_EQ(link.WriteRaw(lots.data(), static_cast<int>(lots.size())), kErrorSemTimeout);
}

TEST_F(LinkOverPty, CancelEndsALongWaitPromptly) {
    // The DDR-debug image may take ten minutes to answer; the operator must not wait for it. (Five
    // seconds here, so that a port deaf to the flag fails the test instead of holding it.)
    link.SetTimeout(5000);
    std::atomic<bool> cancel{false};
    link.WatchCancel(&cancel);
    ASSERT_EQ(link.Open(7), 0);  // the port watches the flag from its open on
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancel = true;
    });
    const auto start = std::chrono::steady_clock::now();
    int code = 0;
    Exchange({0x06}, 8, &code);
    EXPECT_EQ(code, kErrorOperationAborted);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    uint8_t buffer[4];
    EXPECT_EQ(link.ReadRaw(buffer, 4), 0);  // and every later wait, until the owner clears it
}

TEST(PortHangUp, ABoardThatGoesAwayIsAnError) {
    PtyPair pty(7);
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    fs::create_symlink(ptsname(master), pty.portsFolder() / "COM5");
    std::ostringstream console;
    SerialLink link(SystemClock::Instance(), &console);
    link.SetTimeout(kGenerousMs);
    ASSERT_EQ(link.Open(5), 0);
    ::close(master);
    Bytes reply(8);
    int length = 8;
    EXPECT_EQ(link.Transact(Bytes{0x06}.data(), 1, reply.data(), length), kErrorDeviceNotConnected);
    uint8_t buffer[4];
    EXPECT_EQ(link.ReadRaw(buffer, 4), 0);
    EXPECT_EQ(console.str(),
              "Serial write failed: Input/output error\nSerial read failed: the device hung up\n");
}

// A port that fails with set codes and notes every time-out it is given.
class RecordingPort final : public SerialPort {
public:
    RecordingPort(int writeCode, int readCode) : writeCode_(writeCode), readCode_(readCode) {}
    int Open(const std::filesystem::path&) override {
        open_ = true;
        return 0;
    }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    void SetTimeout(uint32_t ms) override { timeout = ms; }
    int Read(uint8_t* buffer, size_t capacity, size_t* got) override {
        ++reads;
        *got = 0;
        if (readCode_ == 0 && capacity >= 2) {  // half a frame, then the failure
            buffer[0] = 0x7E;
            buffer[1] = 0x02;
            *got = 2;
            readCode_ = kErrorDeviceNotConnected;
            return 0;
        }
        return readCode_;
    }
    int Write(const uint8_t*, size_t) override {
        timeoutsAtWrite.push_back(timeout);
        return writeCode_;
    }
    void Purge() override {}
    void WatchCancel(const std::atomic<bool>*) override {}
    std::string LastErrorText() const override { return "what the system said"; }

    int reads = 0;
    uint32_t timeout = 0;
    std::vector<uint32_t> timeoutsAtWrite;

private:
    int writeCode_;
    int readCode_;
    bool open_ = false;
};

// Opens `link` on a RecordingPort; the port stays the link's.
RecordingPort* OpenRecording(SerialLink& link, int writeCode, int readCode) {
    RecordingPort* port = nullptr;
    link.SetPortFactory([&] {
        auto made = std::make_unique<RecordingPort>(writeCode, readCode);
        port = made.get();
        return std::unique_ptr<SerialPort>(std::move(made));
    });
    EXPECT_EQ(link.Open(1), 0);
    return port;
}

TEST(LinkErrors, SystemCodesPassThrough) {
    const struct {
        int writeCode;
        int readCode;
        int expected;
        int reads;
        const char* line;
    } cases[] = {
        {kErrorSemTimeout, 0, kErrorSemTimeout, 0, "Serial write failed: what the system said\n"},
        {0, kErrorIoDevice, kErrorIoDevice, 1, "Serial read failed: what the system said\n"},
        {0, 0, kErrorDeviceNotConnected, 2, "Serial read failed: what the system said\n"}};
    for (const auto& c : cases) {
        std::ostringstream console;
        SerialLink link(SystemClock::Instance(), &console);
        RecordingPort* port = OpenRecording(link, c.writeCode, c.readCode);
        Bytes reply(8);
        int length = 8;
        EXPECT_EQ(link.Transact(Bytes{0x06}.data(), 1, reply.data(), length), c.expected);
        EXPECT_EQ(length, 8);
        EXPECT_EQ(port->reads, c.reads);
        EXPECT_EQ(console.str(), c.line);
    }
}

// The long commands' time-outs must reach the open port, or a real board's erase would be given
// up after a second; the link's 1000 ms comes back after each. A time-out set while the port is
// closed is applied when it opens.
TEST(LinkTimeouts, EachCommandsTimeoutReachesTheOpenPort) {
    const uint8_t packet[] = {0x31, 0x0D};
    uint8_t out[kReadReplyCapacity];
    int outcome = 0;
    const struct {
        const char* name;
        std::function<int(ProgrammerSession&)> call;
        uint32_t ms;
    } cases[] = {
        {"READ", [&](ProgrammerSession& s) { return ReadData(512, out, s, 0); }, 10000},
        {"ERASE", [](ProgrammerSession& s) { return EraseFlash(s); }, 60000},
        {"DDR TEST", [&](ProgrammerSession& s) { return RunDdrTest(outcome, s, packet, 2); },
         600000},
        {"RESET", [](ProgrammerSession& s) { return ResetTarget(s); }, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SerialLink link;
        link.SetTimeout(1000);
        RecordingPort* port = OpenRecording(link, 0, kErrorIoDevice);
        ProgrammerSession session{&link, true};
        EXPECT_EQ(c.call(session), kErrorInvalidHandle);
        EXPECT_EQ(port->timeoutsAtWrite, std::vector<uint32_t>{c.ms});
        EXPECT_EQ(port->timeout, 1000u);
    }
    SerialLink link;
    link.SetTimeout(4321);
    EXPECT_EQ(OpenRecording(link, 0, 0)->timeout, 4321u);
}

}  // namespace
}  // namespace veltrix::testing
