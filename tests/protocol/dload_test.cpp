// DLOAD probe and the Intel-HEX programmer upload over a real pty.
#include "protocol/dload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "tests/protocol/hex_text.h"
#include "tests/protocol/host_fixture.h"

namespace veltrix::testing {
namespace {

using DloadTest = HostTest;

const Bytes kAck = {0x02};

Bytes Write32(uint32_t address, const Bytes& data) {
    return Concat({0x0F, static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                   static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                   static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())},
                  data);
}

Bytes Go(uint32_t address) {
    return {0x05, static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
            static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
}

TEST_F(DloadTest, NopIsAnsweredOnlyByAck) {
    board.Exchange({0x06}, kAck).Exchange({0x06}, {0x03}).Expect({0x06});
    RunWithBoard([&] {
        EXPECT_EQ(DloadNop(session), 0);
        EXPECT_EQ(DloadNop(session), 6);
        SetLinkTimeout(link, 40);
        EXPECT_EQ(DloadNop(session), 6);  // silence
        return 0;
    });
}

TEST_F(DloadTest, UploadsFullPacketsThenGo) {
    const Bytes program = Pattern(600);
    const std::string text =
        HexUpper(0x0800) + HexDataLines(0x1000, program) + HexStart(0x08001000) + kHexEnd;
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    for (int round = 0; round < 2; ++round) {
        board.Exchange(Write32(0x08001000, Bytes(program.begin(), program.begin() + 256)), kAck);
        board.Exchange(Write32(0x08001100, Bytes(program.begin() + 256, program.begin() + 512)),
                       kAck);
        board.Exchange(Write32(0x08001200, Bytes(program.begin() + 512, program.end())), kAck);
        board.Exchange(Go(0x08001000), kAck);
    }
    board.ExpectQuiet();
    const auto upper = WriteFile("upper.hex", Bytes(text.begin(), text.end()));
    const auto low = WriteFile("lower.hex", Bytes(lower.begin(), lower.end()));
    RunWithBoard([&] {
        EXPECT_EQ(UploadHexProgrammer(upper, session), 0);
        EXPECT_EQ(UploadHexProgrammer(low, session), 0);
        return 0;
    });
    ASSERT_GE(board.Frames().size(), 1u);
    EXPECT_EQ(board.Frames()[0].size(), 263u);
}

TEST_F(DloadTest, FileWithoutDataOrEndRecord) {
    const std::string onlyEnd = kHexEnd;
    const std::string noEnd = HexDataLines(0x40, Pattern(20));
    board.Exchange(Go(0), kAck);
    board.Exchange(Write32(0x40, Pattern(20)), kAck).Exchange(Go(0), kAck).ExpectQuiet();
    const auto a = WriteFile("a.hex", Bytes(onlyEnd.begin(), onlyEnd.end()));
    const auto b = WriteFile("b.hex", Bytes(noEnd.begin(), noEnd.end()));
    RunWithBoard([&] {
        EXPECT_EQ(UploadHexProgrammer(a, session), 0);
        EXPECT_EQ(UploadHexProgrammer(b, session), 0);
        return 0;
    });
}

TEST_F(DloadTest, RefusedPacketStopsTheUploadWithoutGo) {
    const std::string text = HexDataLines(0, Pattern(512)) + kHexEnd;
    // No GO after the refusal: the next frame must begin the second upload.
    board.Exchange(Write32(0, Pattern(256)), kAck).ExpectAny().Answer({0x03});
    board.Exchange(Write32(0, Pattern(256)), kAck).ExpectAny().Answer(kAck);
    board.Exchange(Go(0), {0x03});
    const auto path = WriteFile("p.hex", Bytes(text.begin(), text.end()));
    RunWithBoard([&] {
        EXPECT_EQ(UploadHexProgrammer(path, session), 29);
        EXPECT_EQ(UploadHexProgrammer(path, session), 29);
        return 0;
    });
    EXPECT_EQ(console.str(),
              "Programmer packet at 0x00000100 refused\n"
              "Programmer start at 0x00000000 refused\n");
}

TEST_F(DloadTest, DamagedFileIsRefusedBeforeAnythingIsSent) {
    std::string text = HexDataLines(0, Pattern(64)) + kHexEnd;
    text[3 * 44 - 2] = text[3 * 44 - 2] == '0' ? '1' : '0';  // checksum digit of line 3
    const auto path = WriteFile("bad.hex", Bytes(text.begin(), text.end()));
    board.ExpectQuiet(300);
    EXPECT_EQ(RunWithBoard([&] { return UploadHexProgrammer(path, session); }), 13);
    EXPECT_EQ(console.str(), "Programmer file " + path.string() + ", line 3: wrong checksum\n");
}

TEST_F(DloadTest, MissingFileGivesOpenFailure) {
    const auto path = tempDir / "none.hex";
    EXPECT_EQ(UploadHexProgrammer(path, session), 110);
    EXPECT_EQ(console.str(),
              "Cannot open programmer file " + path.string() + " (No such file or directory)\n");
}

}  // namespace
}  // namespace veltrix::testing
