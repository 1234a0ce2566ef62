// The simulated boot ROM over its real pseudo-terminal: DLOAD and Sahara, spoken with the frame
// codec and raw reads and writes only.

#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <thread>

#include "link/fcs.h"
#include "link/frame_codec.h"
#include "tests/sim/board_fixture.h"

namespace veltrix::sim::testing {
namespace {

class DloadBoard : public BoardFixture {};

TEST_F(DloadBoard, NopIsAnsweredWithAckOnTheWire) {
    StartBoard();
    auto host = Connect();
    host->WriteFrame({0x06});
    EXPECT_EQ(host->ReadFrame(), (Bytes{0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
}

TEST_F(DloadBoard, Write32LandsInMemoryAndGoStartsTheProgrammer) {
    StartBoard();
    auto host = Connect();
    Bytes data(256);
    std::iota(data.begin(), data.end(), 0);  // includes 0x7D and 0x7E, escaped on the wire
    Bytes write{0x0F};
    AppendBe32(write, 0x2A000010);
    AppendBe16(write, static_cast<uint16_t>(data.size()));
    write.insert(write.end(), data.begin(), data.end());
    ASSERT_EQ(host->Exchange(write), Bytes{0x02});

    EXPECT_EQ(board->ReadMemory(0x2A000010, data.size()), data);
    ASSERT_EQ(board->MemoryRanges().size(), 1u);
    EXPECT_EQ(board->MemoryRanges()[0], (std::pair<uint64_t, uint64_t>{0x2A000010, 256}));
    EXPECT_EQ(board->mode(), BoardMode::kDloadRom);

    Bytes go{0x05};
    AppendBe32(go, 0x2A000010);
    ASSERT_EQ(host->Exchange(go), Bytes{0x02});
    EXPECT_EQ(board->mode(), BoardMode::kProgrammer);
    EXPECT_EQ(board->goAddress(), 0x2A000010u);
}

struct NakCase {
    const char* name;
    Bytes request;
    uint16_t reason;
};

Bytes WriteHeader(uint32_t address, uint16_t length, size_t actual) {
    Bytes w{0x0F};
    AppendBe32(w, address);
    AppendBe16(w, length);
    w.resize(7 + actual, 0xAA);
    return w;
}

TEST_F(DloadBoard, RefusesWhatARealRomRefusesWithItsNakCode) {
    options.dloadRamBase = 0x10000000;
    options.dloadRamSize = 0x1000;
    StartBoard();
    auto host = Connect();
    const NakCase cases[] = {
        {"short header", {0x0F, 0x10, 0x00}, kNakEarlyEnd},
        {"fewer data than announced", WriteHeader(0x10000000, 16, 8), kNakEarlyEnd},
        {"more data than announced", WriteHeader(0x10000000, 8, 16), kNakInvalidLength},
        {"too large", WriteHeader(0x10000000, 1025, 1025), kNakTooLarge},
        {"below RAM", WriteHeader(0x0FFFFFF0, 16, 16), kNakInvalidDestination},
        {"past RAM end", WriteHeader(0x10000FF8, 16, 16), kNakInvalidDestination},
        {"GO too short", {0x05, 0x00}, kNakEarlyEnd},
        {"unknown command", {0x42}, kNakInvalidCommand},
    };
    for (const auto& c : cases) {
        const auto reply = host->Exchange(c.request);
        ASSERT_TRUE(reply) << c.name;
        EXPECT_EQ(*reply, (Bytes{0x03, static_cast<uint8_t>(c.reason >> 8),
                                 static_cast<uint8_t>(c.reason)}))
            << c.name;
    }
    EXPECT_TRUE(board->MemoryRanges().empty());
    EXPECT_EQ(board->mode(), BoardMode::kDloadRom);

    // A frame whose FCS is wrong: NAK "invalid FCS".
    host->Write({0x7E, 0x06, 0x00, 0x00, 0x7E});
    Bytes body(8);
    const Bytes raw = host->ReadFrame();
    body.resize(UnstuffFrame(raw, body.data()));
    EXPECT_EQ(Bytes(body.begin(), body.end() - 2), (Bytes{0x03, 0x00, 0x01}));
}

class SaharaBoard : public BoardFixture {
protected:
    void SetUp() override {
        BoardFixture::SetUp();
        options.loaderFamily = 0;  // boots through Sahara
        options.saharaMode = 3;
    }
    // Reads HELLO and answers it, echoing words 5..11.
    void Greet(RawHost& host) {
        const Bytes hello = host.Read(48);
        ASSERT_EQ(hello.size(), 48u);
        EXPECT_EQ(Le32At(hello, 0), 1u);
        EXPECT_EQ(Le32At(hello, 4), 0x30u);
        EXPECT_EQ(Le32At(hello, 20), 3u);  // the configured mode
        Bytes response;
        for (uint32_t w : {2u, 0x30u, 2u, 1u, 0u}) {
            AppendLe32(response, w);
        }
        response.insert(response.end(), hello.begin() + 20, hello.end());
        host.Write(response);
    }
    // Serves READ DATA requests from `image` until END OF IMAGE TRANSFER, then DONE.
    void Serve(RawHost& host, const Bytes& image) {
        for (;;) {
            const Bytes head = host.Read(8);
            ASSERT_EQ(head.size(), 8u);
            if (Le32At(head, 0) == 4) {
                host.Read(8);
                break;
            }
            ASSERT_EQ(Le32At(head, 0), 3u);
            const Bytes rest = host.Read(12);
            const uint32_t offset = Le32At(rest, 4);
            const uint32_t length = Le32At(rest, 8);
            const size_t end = std::min<size_t>(image.size(), size_t{offset} + length);
            if (offset < end) {
                host.Write(Bytes(image.begin() + offset, image.begin() + end));
            }
        }
        host.Write({5, 0, 0, 0, 8, 0, 0, 0});
        const Bytes done = host.Read(12);
        ASSERT_EQ(done.size(), 12u);
        EXPECT_EQ(Le32At(done, 0), 6u);
    }
};

Bytes Pattern(size_t size) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) {
        b[i] = static_cast<uint8_t>(i * 31 + i / 256);
    }
    return b;
}

TEST_F(SaharaBoard, OutOfOrderAndOversizedRequestsAssembleTheImage) {
    options.saharaRequests = {{40000, 100}, {0, 20000}, {100, 50}};
    options.saharaChunk = 3000;
    StartBoard();
    auto host = Connect();
    const Bytes image = Pattern(45001);
    Greet(*host);
    Serve(*host, image);
    ASSERT_TRUE(WaitForMode(BoardMode::kProgrammer));
    EXPECT_EQ(board->SaharaImage(), image);
    const auto served = board->SaharaRequestsServed();
    ASSERT_GE(served.size(), 4u);
    EXPECT_EQ(served[0].offset, 40000u);
    EXPECT_EQ(served[1].length, 20000u);
    EXPECT_EQ(served[3].offset, 20000u);  // gap filling starts after the scripted pieces
    EXPECT_EQ(Le32At(board->SaharaHelloResponse(), 20), 3u);
}

TEST_F(SaharaBoard, KnownImageSizeEndsWithoutAShortAnswer) {
    options.saharaImageSize = 10000;
    options.saharaChunk = 4096;
    StartBoard();
    auto host = Connect();
    const Bytes image = Pattern(10000);
    Greet(*host);
    Serve(*host, image);
    ASSERT_TRUE(WaitForMode(BoardMode::kProgrammer));
    EXPECT_EQ(board->SaharaImage(), image);
    const auto served = board->SaharaRequestsServed();
    ASSERT_EQ(served.size(), 3u);
    EXPECT_EQ(served[2].length, 10000u - 8192u);
}

TEST_F(SaharaBoard, GarbageGetsAFreshHelloAndTheDdrImageAnswersItsVerdict) {
    options.saharaTarget = SaharaTarget::kDdrDebug;
    options.ddrVerdict = '0';
    options.saharaImageSize = 64;
    StartBoard();
    auto host = Connect();
    ASSERT_EQ(host->Read(48).size(), 48u);
    host->WriteFrame({0x06});  // a DLOAD probe is not a HELLO RESPONSE
    Greet(*host);
    Serve(*host, Pattern(64));
    ASSERT_TRUE(WaitForMode(BoardMode::kDdrDebug));

    const auto wake = host->Exchange({0x0D});
    ASSERT_TRUE(wake && wake->size() >= 4);
    EXPECT_NE((*wake)[3], '0');
    const auto verdict = host->Exchange({'2', 0x0D});
    ASSERT_TRUE(verdict && verdict->size() >= 4);
    EXPECT_EQ((*verdict)[3], '0');
    EXPECT_EQ(board->ddrTestsRun(), 1);
}

TEST_F(SaharaBoard, AHostThatLeavesMidTransferStartsOverWithAFreshHello) {
    options.saharaImageSize = 9000;
    StartBoard();
    {
        auto host = Connect();
        Greet(*host);
        const Bytes request = host->Read(20);
        ASSERT_EQ(request.size(), 20u);
        EXPECT_EQ(Le32At(request, 0), 3u);
    }  // gone without serving it
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    auto host = Connect();
    const Bytes image = Pattern(9000);
    Greet(*host);
    Serve(*host, image);
    ASSERT_TRUE(WaitForMode(BoardMode::kProgrammer));
    EXPECT_EQ(board->SaharaImage(), image);
}

TEST_F(SaharaBoard, UnansweredHelloIsRepeatedWhenAsked) {
    options.helloRepeatMs = 40;
    StartBoard();
    auto host = Connect();
    const Bytes two = host->Read(96, 500);
    ASSERT_EQ(two.size(), 96u);
    EXPECT_EQ(Bytes(two.begin(), two.begin() + 48), Bytes(two.begin() + 48, two.end()));
}

TEST_F(SaharaBoard, HelloIsSentAgainEachTimeTheHostOpensThePort) {
    StartBoard();
    {
        auto host = Connect();  // opens, lets HELLO arrive, leaves without reading it
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    auto host = Connect();
    const Bytes hello = host->Read(96, 300);
    EXPECT_EQ(hello.size(), 48u) << "exactly one HELLO, none left over from the first open";
}

}  // namespace
}  // namespace veltrix::sim::testing
