// Opening, closing and holding the port, and the raw byte path, over real pseudo-terminals.

#include <stdlib.h>
#include <termios.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "link/framing/port_names.h"
#include "tests/link/link_test_util.h"

namespace veltrix::testing {
namespace {

namespace fs = std::filesystem;

class ClosedLink : public LinkOverPty {
    bool OpenOnSetUp() const override { return false; }
};

TEST_F(ClosedLink, NothingHappensWhileClosed) {
    Bytes reply(8);
    int length = 8;
    EXPECT_EQ(Transact(Bytes{0x06}.data(), 1, link, reply.data(), length), kErrorInvalidHandle);
    EXPECT_EQ(length, 8);
    EXPECT_EQ(WriteRaw(link, Bytes{0x01}.data(), 1), kErrorInvalidHandle);
    EXPECT_EQ(ReadRaw(link, reply.data(), 8), 0);
    PurgePort(link);
    EXPECT_EQ(pty.Drain(), Bytes{});
    EXPECT_EQ(ClosePort(link), 0);
    EXPECT_EQ(ClosePort(link), 0);
    EXPECT_FALSE(PortIsOpen(link));
}

TEST_F(ClosedLink, ComNumberResolvesThroughThePortsFolder) {
    EXPECT_EQ(PortDevicePath(7), pty.portsFolder() / "COM7");
    EXPECT_EQ(PortDevicePath(3), fs::path("/dev/ttyUSB2"));  // no link COM3: the USB fallback
    ASSERT_EQ(OpenPort(link, 7), 0);
    EXPECT_EQ(WriteRaw(link, Bytes{0x4F, 0x4B}.data(), 2), 0);
    EXPECT_EQ(pty.Read(2), (Bytes{0x4F, 0x4B}));
}

TEST_F(ClosedLink, MissingOrUnfitPortsGiveTheFailedOpensCode) {
    fs::create_symlink(pty.portsFolder() / "gone", pty.portsFolder() / "COM9");
    { std::ofstream(pty.portsFolder() / "plain") << "not a tty"; }
    fs::create_symlink(pty.portsFolder() / "plain", pty.portsFolder() / "COM8");
    struct Case {
        int port;
        int code;
    } const cases[] = {
        {4242, kErrorFileNotFound},  // no link, no /dev/ttyUSB4241
        {9, kErrorFileNotFound},     // a link whose device went away
        {8, kErrorIoDevice},         // not a terminal: refused, not half-opened
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        EXPECT_EQ(OpenPort(link, c.port), c.code);
        EXPECT_FALSE(PortIsOpen(link));
    }
    // A failed open of another port also leaves an open link closed.
    ASSERT_EQ(OpenPort(link, 7), 0);
    EXPECT_EQ(OpenPort(link, 4242), kErrorFileNotFound);
    Bytes reply(8);
    int length = 8;
    EXPECT_EQ(Transact(Bytes{0x06}.data(), 1, link, reply.data(), length), kErrorInvalidHandle);
}

TEST_F(ClosedLink, PortIsHeldExclusively) {
    ASSERT_EQ(OpenPort(link, 7), 0);
    SerialLink second;
    EXPECT_EQ(OpenPort(second, 7), kErrorPortBusy);
    EXPECT_FALSE(PortIsOpen(second));
    // Reopening the same link closes its earlier handle first, or its own lock would refuse it.
    EXPECT_EQ(OpenPort(link, 7), 0);
    EXPECT_EQ(OpenPort(link, 7), 0);
    EXPECT_EQ(OpenPort(second, 7), kErrorPortBusy);
    ClosePort(link);
    EXPECT_EQ(OpenPort(second, 7), 0);
    EXPECT_EQ(WriteRaw(second, Bytes{0x5A}.data(), 1), 0);
    EXPECT_EQ(pty.Read(1), Bytes{0x5A});
}

TEST_F(ClosedLink, TimeoutSurvivesCloseAndReopen) {
    SetLinkTimeout(link, kShortMs + 10);
    ASSERT_EQ(OpenPort(link, 7), 0);
    EXPECT_EQ(link.timeoutMs, kShortMs + 10);
    const auto start = std::chrono::steady_clock::now();
    uint8_t buffer[4];
    EXPECT_EQ(ReadRaw(link, buffer, 4), 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(kShortMs + 10));
    EXPECT_LT(waited, std::chrono::seconds(10));
}

// A tty left in its default (cooked) mode would echo, rewrite \n, eat 0x03 and XON/XOFF: the
// port must pass every byte value unchanged both ways.
TEST_F(ClosedLink, EveryByteValuePassesAPreviouslyCookedTty) {
    termios t{};
    const int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    t.c_iflag |= ICRNL | IXON | IXOFF;
    t.c_oflag |= OPOST | ONLCR;
    t.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    ::close(fd);

    ASSERT_EQ(OpenPort(link, 7), 0);
    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    EXPECT_EQ(WriteRaw(link, all.data(), 256), 0);
    EXPECT_EQ(pty.Read(256), all);

    pty.Write(all);
    Bytes got;
    uint8_t buffer[300];
    for (int n; got.size() < 256 && (n = ReadRaw(link, buffer, 300)) > 0;) {
        got.insert(got.end(), buffer, buffer + n);
    }
    EXPECT_EQ(got, all);
    SetLinkTimeout(link, kShortMs);
    EXPECT_EQ(pty.Drain(), Bytes{});  // nothing echoed back
}

TEST_F(LinkOverPty, RawReadsAndWrites) {
    const Bytes sahara = {0x01, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00};
    EXPECT_EQ(WriteRaw(link, sahara.data(), 8), 0);
    EXPECT_EQ(pty.Read(8), sahara);
    EXPECT_EQ(WriteRaw(link, nullptr, 0), 0);

    pty.Write(sahara);
    ASSERT_TRUE(WaitQueued(8));
    uint8_t buffer[16];
    EXPECT_EQ(ReadRaw(link, buffer, 3), 3);
    EXPECT_EQ(ReadRaw(link, buffer + 3, 16), 5);
    EXPECT_EQ(Bytes(buffer, buffer + 8), sahara);
    EXPECT_EQ(ReadRaw(link, buffer, 0), 0);

    // Bytes that followed a reply's closing flag come first.
    pty.Write(Concat(Frame({0x02}), {0x11, 0x22, 0x33}));
    ASSERT_TRUE(WaitQueued(8));
    int code = -1;
    EXPECT_EQ(Exchange({0x01}, 64, &code), WithFcs({0x02}));
    Bytes rest;
    for (int n; rest.size() < 3 && (n = ReadRaw(link, buffer, 16)) > 0;) {
        rest.insert(rest.end(), buffer, buffer + n);
    }
    EXPECT_EQ(rest, (Bytes{0x11, 0x22, 0x33}));

    SetLinkTimeout(link, kShortMs);
    EXPECT_EQ(ReadRaw(link, buffer, 16), 0);
}

TEST_F(LinkOverPty, WriteIsBoundedByTheTimeout) {
    // Nobody reads the master: the pty's queue fills and the write must give up.
    SetLinkTimeout(link, kShortMs);
    const Bytes lots(1 << 20, 0x33);
    EXPECT_EQ(WriteRaw(link, lots.data(), static_cast<int>(lots.size())), kErrorSemTimeout);
}

TEST_F(LinkOverPty, CancelEndsALongWaitPromptly) {
    // The DDR-debug image may take ten minutes to answer; the operator must not wait for it.
    SetLinkTimeout(link, 600000);
    std::thread canceller([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        link.cancel = true;
    });
    const auto start = std::chrono::steady_clock::now();
    Bytes reply(8);
    int length = 8;
    EXPECT_EQ(Transact(Bytes{0x06}.data(), 1, link, reply.data(), length), kErrorOperationAborted);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    uint8_t buffer[4];
    EXPECT_EQ(ReadRaw(link, buffer, 4), 0);  // and every later wait, until the owner clears it
}

TEST(SerialPortHangUp, ABoardThatGoesAwayIsAnError) {
    PtyPair pty(7);
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    fs::create_symlink(ptsname(master), pty.portsFolder() / "COM5");
    SerialLink link;
    std::ostringstream console;
    link.console = &console;
    SetLinkTimeout(link, kGenerousMs);
    ASSERT_EQ(OpenPort(link, 5), 0);
    ::close(master);
    Bytes reply(8);
    int length = 8;
    EXPECT_EQ(Transact(Bytes{0x06}.data(), 1, link, reply.data(), length),
              kErrorDeviceNotConnected);
    uint8_t buffer[4];
    EXPECT_EQ(ReadRaw(link, buffer, 4), 0);
    EXPECT_NE(console.str().find("Serial read failed"), std::string::npos);
    EXPECT_EQ(ClosePort(link), 0);
}

}  // namespace
}  // namespace veltrix::testing

namespace veltrix::testing {
namespace {

// A port whose calls fail with set codes: the link must pass them through untouched and say why.
class FailingPort final : public SerialPort {
public:
    FailingPort(int writeCode, int readCode) : writeCode_(writeCode), readCode_(readCode) {}
    int Open(const std::filesystem::path&) override {
        open_ = true;
        return 0;
    }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    void SetTimeout(uint32_t) override {}
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
    int Write(const uint8_t*, size_t) override { return writeCode_; }
    void Purge() override {}
    void WatchCancel(const std::atomic<bool>*) override {}
    std::string LastErrorText() const override { return "what the system said"; }
    int reads = 0;

private:
    int writeCode_;
    int readCode_;
    bool open_ = false;
};

TEST(LinkErrors, SystemCodesPassThrough) {
    struct Case {
        int writeCode;
        int readCode;
        int expected;
        int reads;
        const char* line;
    } const cases[] = {
        {kErrorSemTimeout, 0, kErrorSemTimeout, 0, "Serial write failed: what the system said\n"},
        {0, kErrorIoDevice, kErrorIoDevice, 1, "Serial read failed: what the system said\n"},
        {0, 0, kErrorDeviceNotConnected, 2, "Serial read failed: what the system said\n"}};
    for (const Case& c : cases) {
        SerialLink link;
        std::ostringstream console;
        link.console = &console;
        FailingPort* port = nullptr;
        link.portFactory = [&] {
            auto p = std::make_unique<FailingPort>(c.writeCode, c.readCode);
            port = p.get();
            return std::unique_ptr<SerialPort>(std::move(p));
        };
        ASSERT_EQ(OpenPort(link, 1), 0);
        Bytes reply(8);
        int length = 8;
        EXPECT_EQ(Transact(Bytes{0x06}.data(), 1, link, reply.data(), length), c.expected);
        EXPECT_EQ(length, 8);
        EXPECT_EQ(port->reads, c.reads);
        EXPECT_EQ(console.str(), c.line);
    }
}

}  // namespace
}  // namespace veltrix::testing
