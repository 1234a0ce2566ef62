// Sahara hello and image transfer over a real pty, unframed.
#include "protocol/sahara.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "tests/protocol/host_fixture.h"

namespace veltrix::testing {
namespace {

Bytes Words(std::initializer_list<uint32_t> words) {
    Bytes b;
    for (uint32_t w : words) {
        for (int shift = 0; shift < 32; shift += 8)
            b.push_back(static_cast<uint8_t>(w >> shift));
    }
    return b;
}

Bytes ReadDataRequest(uint32_t offset, uint32_t length) {
    return Words({3, 0x14, 13, offset, length});
}
uint32_t Le32At(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
const Bytes kEnd = Words({4, 0x10, 13, 0});
const Bytes kDone = Words({5, 8});
const Bytes kDoneResponse = Words({6, 0x0C, 0});

class SaharaTest : public HostTest {
protected:
    Bytes Slice(size_t offset, size_t length) { return testing::Slice(image, offset, length); }
    Bytes image = Noise(70000);
    std::filesystem::path path = File("2nd_loader.mbn", image);
};

TEST_F(SaharaTest, HelloResponseEchoesTheRomsMode) {
    for (uint32_t mode : {0u, 3u}) {
        board.SendRaw(Words({1, 0x30, 2, 1, 0x400, mode, 7, 0, 0, 0, 0, 9}));
        board.ExpectRaw(Words({2, 0x30, 2, 1, 0, mode, 7, 0, 0, 0, 0, 9}));
    }
    board.ExpectQuiet();
    RunWithBoard([&] {
        EXPECT_EQ(SaharaHello(link), 0);
        EXPECT_EQ(SaharaHello(link), 0);
        link.SetTimeout(40);
        EXPECT_EQ(SaharaHello(link), 6);  // no HELLO
        return 0;
    });
}

TEST_F(SaharaTest, ServesRequestsFromTheirOffsetsAndSplitsLargeOnes) {
    board.SendRaw(ReadDataRequest(0, 0x30)).ExpectRaw(Slice(0, 0x30));
    board.SendRaw(ReadDataRequest(0x30, 0x100)).ExpectRaw(Slice(0x30, 0x100));
    board.SendRaw(ReadDataRequest(40000, 20000)).ExpectRaw(Slice(40000, 20000));    // > 16 KiB
    board.SendRaw(ReadDataRequest(0x1000, 0x200)).ExpectRaw(Slice(0x1000, 0x200));  // backwards
    board.SendRaw(kEnd).ExpectRaw(kDone).SendRaw(kDoneResponse).ExpectQuiet();
    EXPECT_EQ(RunWithBoard([&] { return SaharaUploadImage(path, link); }), 0);
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>{500});
}

TEST_F(SaharaTest, EndWithErrorStatusIsStillFinished) {
    board.SendRaw(Words({4, 0x10, 13, 5})).ExpectRaw(kDone).SendRaw(kDoneResponse);
    EXPECT_EQ(RunWithBoard([&] { return SaharaUploadImage(path, link); }), 0);
    EXPECT_EQ(console.str(), "Sahara: the boot ROM ended the transfer with status 5\n");
}

TEST_F(SaharaTest, TransferFaultsGiveWriteFault) {
    const struct {
        const char* name;
        std::vector<Bytes> romSends;  // each followed by what the host must answer
        const char* console;
    } cases[] = {
        {"no DONE RESPONSE", {kEnd}, "Sahara: no DONE RESPONSE from the boot ROM\n"},
        {"request time-out", {ReadDataRequest(0, 16)}, "Sahara: no request from the boot ROM\n"},
        {"unexpected packet",
         {Words({7, 8})},
         "Sahara: unexpected packet 7 during the image transfer\n"},
    };
    link.SetTimeout(40);  // only the awaited packet that never comes waits it out
    for (const auto& c : cases) {
        // The ROM's packets are in the port before the host looks, so the host never waits for
        // the board thread; the board only checks what the host answers.
        ScriptedBoard rom(pty);
        for (const Bytes& packet : c.romSends) {
            pty.Write(packet);
            if (packet == kEnd)
                rom.ExpectRaw(kDone);
            if (packet[0] == 3)
                rom.ExpectRaw(Slice(0, 16));
        }
        rom.Start();
        EXPECT_EQ(SaharaUploadImage(path, link), 29) << c.name;
        EXPECT_TRUE(rom.Finish().empty()) << c.name;
        EXPECT_EQ(console.str(), c.console) << c.name;
        console.str("");
        EXPECT_TRUE(clock.Sleeps().empty());
    }
}

// A boot ROM that keeps asking past the image's end, or for the image many times over, ends the
// upload with a failure instead of being served for ever; an empty image is refused before
// anything is sent.
TEST_F(SaharaTest, TransferIsBoundedAndAnEmptyImageIsRefused) {
    const struct {
        const char* name;
        Bytes request;  // the ROM sends it again and again
        size_t served;  // bytes of the image the host answers each with
        int requests;   // how many the host serves; it gives up at the last or the next
        const char* console;
    } cases[] = {
        {"past the end", ReadDataRequest(69000, 4096), 1000, 4,
         "Sahara: the boot ROM keeps asking for bytes past the end of the 70000-byte image; "
         "upload stopped\n"},
        {"again and again", ReadDataRequest(0, 16384), 16384, 21,
         "Sahara: the boot ROM asked for 360448 bytes of a 70000-byte image; upload stopped\n"},
    };
    link.SetTimeout(40);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedBoard rom(pty);
        for (int i = 0; i <= c.requests; ++i) {
            pty.Write(c.request);
        }
        for (int i = 0; i < c.requests; ++i) {
            rom.ExpectRaw(Slice(Le32At(c.request, 12), c.served));
        }
        rom.ExpectQuiet();
        rom.Start();
        EXPECT_EQ(SaharaUploadImage(path, link), 29);
        EXPECT_TRUE(rom.Finish().empty());
        const std::string text = console.str();
        EXPECT_TRUE(text.ends_with(c.console)) << text;
        console.str("");
        link.Purge();
    }
    std::string problem;
    EXPECT_EQ(SaharaUploadImage(File("empty.mbn", {}), link, &problem), 110);
    EXPECT_EQ(problem, "Image file " + (folder / "empty.mbn").string() + " is empty");
}

TEST_F(SaharaTest, MissingImageGivesOpenFailure) {
    EXPECT_EQ(SaharaUploadImage(folder / "none.mbn", link), 110);
}

}  // namespace
}  // namespace veltrix::testing
