// DLOAD probe and the Intel-HEX programmer upload over a real pty.
#include "protocol/dload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "tests/protocol/host_fixture.h"

namespace veltrix::testing {
namespace {

using DloadTest = HostTest;

const Bytes kAck = {0x02};

Bytes Write32(uint32_t address, const Bytes& data) {
    return Join({{0x0F, static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                  static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                  static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())},
                 data});
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
        link.SetTimeout(40);
        EXPECT_EQ(DloadNop(session), 6);  // silence
        return 0;
    });
}

TEST_F(DloadTest, UploadsFullPacketsThenGo) {
    const Bytes program = Noise(600);
    const std::string text =
        HexUpper(0x0800) + HexDataLines(0x1000, program) + HexStart(0x08001000) + kHexEnd;
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    for (int round = 0; round < 2; ++round) {
        board.Exchange(Write32(0x08001000, Slice(program, 0, 256)), kAck);
        board.Exchange(Write32(0x08001100, Slice(program, 256, 256)), kAck);
        board.Exchange(Write32(0x08001200, Slice(program, 512, 88)), kAck);
        board.Exchange(Go(0x08001000), kAck);
    }
    // A file without a start record sends GO to 0.
    board.Exchange(Write32(0x40, Noise(20)), kAck).Exchange(Go(0), kAck).ExpectQuiet();
    WriteText(folder / "upper.hex", text);
    WriteText(folder / "lower.hex", lower);
    WriteText(folder / "nostart.hex", HexDataLines(0x40, Noise(20)) + kHexEnd);
    RunWithBoard([&] {
        for (const char* name : {"upper.hex", "lower.hex", "nostart.hex"}) {
            EXPECT_EQ(UploadHexProgrammer(folder / name, session), 0) << name;
        }
        return 0;
    });
}

TEST_F(DloadTest, RefusedPacketStopsTheUploadWithoutGo) {
    const Bytes program = Noise(512);
    WriteText(folder / "p.hex", HexDataLines(0, program) + kHexEnd);
    // No GO after the refusal: the next frame must begin the second upload.
    board.Exchange(Write32(0, Slice(program, 0, 256)), kAck).ExpectAny().Answer({0x03});
    board.Exchange(Write32(0, Slice(program, 0, 256)), kAck).ExpectAny().Answer(kAck);
    board.Exchange(Go(0), {0x03});
    RunWithBoard([&] {
        EXPECT_EQ(UploadHexProgrammer(folder / "p.hex", session), 29);
        EXPECT_EQ(UploadHexProgrammer(folder / "p.hex", session), 29);
        return 0;
    });
    EXPECT_EQ(console.str(),
              "Programmer packet at 0x00000100 refused\n"
              "Programmer start at 0x00000000 refused\n");
}

TEST_F(DloadTest, DamagedOrMissingFileIsRefusedBeforeAnythingIsSent) {
    std::string text = HexDataLines(0, Noise(64)) + kHexEnd;
    text[3 * 44 - 2] = text[3 * 44 - 2] == '0' ? '1' : '0';  // checksum digit of line 3
    const auto path = folder / "bad.hex";
    WriteText(path, text);
    board.ExpectQuiet(300);
    RunWithBoard([&] {
        EXPECT_EQ(UploadHexProgrammer(path, session), 13);
        EXPECT_EQ(UploadHexProgrammer(folder / "none.hex", session), 110);
        return 0;
    });
    EXPECT_EQ(console.str(), "Programmer file " + path.string() +
                                 ", line 3: wrong checksum\nCannot open programmer file " +
                                 (folder / "none.hex").string() + " (No such file or directory)\n");
}

}  // namespace
}  // namespace veltrix::testing
