// Host protocols against the simulated board: what the host uploads arrives byte for byte.

#include <gtest/gtest.h>

#include "protocol/dload.h"
#include "protocol/sahara.h"
#include "protocol/streaming.h"
#include "tests/sim/board_fixture.h"

namespace veltrix::sim::testing {
namespace {

using veltrix::testing::IntelHex;
using veltrix::testing::Noise;

class HostUpload : public BoardFixture {
protected:
    std::filesystem::path WriteHex(const Bytes& binary, uint32_t address) {
        const auto path = WriteFile("loader.hex", {});
        veltrix::testing::WriteText(path, IntelHex(binary, address));
        return path;
    }
};

TEST_F(HostUpload, IntelHexArrivesByteIdenticalAcrossA64KBoundary) {
    StartAndOpen();
    const Bytes programmer = Noise(70001, 7);
    const uint32_t base = 0x2A00F0F0;  // the image crosses into the next 64 KiB (an 04 record)
    const auto hex = WriteHex(programmer, base);
    ASSERT_EQ(DloadNop(session), 0);
    ASSERT_EQ(UploadHexProgrammer(hex, session), 0) << console.str();
    EXPECT_EQ(board->ReadMemory(base, programmer.size()), programmer);
    const auto ranges = board->MemoryRanges();
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0], (std::pair<uint64_t, uint64_t>{base, programmer.size()}));
    EXPECT_EQ(board->goAddress(), base);
    EXPECT_EQ(board->mode(), BoardMode::kProgrammer);
}

TEST_F(HostUpload, RefusedWrite32StopsTheUploadWith29AndNoGo) {
    options.faults.push_back(*ParseFault("refuse-write,nth=3", nullptr));
    StartAndOpen();
    const auto hex = WriteHex(Noise(4096), 0x10000);
    ASSERT_EQ(DloadNop(session), 0);
    EXPECT_EQ(UploadHexProgrammer(hex, session), 29);
    EXPECT_EQ(board->mode(), BoardMode::kDloadRom) << "GO must not follow a refused packet";
    EXPECT_EQ(board->MemoryRanges().size(), 1u);
    EXPECT_EQ(board->MemoryRanges()[0].second, 512u);  // the two packets before the refusal
}

TEST_F(HostUpload, SaharaOutOfOrderAndOversizedRequestsArriveByteIdentical) {
    options.loaderFamily = 0;
    options.saharaMode = 3;
    options.saharaChunk = 5000;
    options.saharaRequests = {{60000, 100}, {1000, 40000}, {0, 10}};
    StartAndOpen();
    const Bytes image = Noise(80001, 3);
    const auto path = WriteFile("2nd_loader.mbn", image);
    ASSERT_EQ(SaharaHello(link), 0);
    ASSERT_EQ(SaharaUploadImage(path, link), 0) << console.str();
    ASSERT_TRUE(WaitForMode(BoardMode::kProgrammer));
    EXPECT_EQ(board->SaharaImage(), image);
    const auto response = board->SaharaHelloResponse();
    ASSERT_EQ(response.size(), 48u);
    EXPECT_EQ(GetLe32(response, 0), 2u);
    EXPECT_EQ(GetLe32(response, 20), 3u) << "the ROM's mode is echoed";
    const auto served = board->SaharaRequestsServed();
    ASSERT_GE(served.size(), 3u);
    EXPECT_EQ(served[1].received, 40000u);
}

TEST_F(HostUpload, SaharaDdrImageThenDdrTestOutcomes) {
    options.loaderFamily = 0;
    const auto ddrImage = WriteFile("ddr_debug.mbn", Noise(3000, 9));
    options.ddrImagePath = ddrImage;
    options.ddrVerdict = '1';
    options.ddrDelayMs = 20;
    StartAndOpen();
    ASSERT_EQ(SaharaHello(link), 0);
    ASSERT_EQ(SaharaUploadImage(ddrImage, link), 0);
    ASSERT_TRUE(WaitForMode(BoardMode::kDdrDebug));

    int outcome = -1;
    const uint8_t wake[] = {0x0D};
    ASSERT_EQ(RunDdrTest(outcome, session, wake, 1), 0);
    EXPECT_EQ(outcome, kDdrOutcomeUnknown);
    const uint8_t level1[] = {0x32, 0x0D};
    ASSERT_EQ(RunDdrTest(outcome, session, level1, 2), 0);
    EXPECT_EQ(outcome, kDdrOutcomePass);
    board->SetDdrVerdict('0');
    ASSERT_EQ(RunDdrTest(outcome, session, level1, 2), 0);
    EXPECT_EQ(outcome, kDdrOutcomeFail);
    EXPECT_EQ(link.timeoutMs, 1000u);
}

}  // namespace
}  // namespace veltrix::sim::testing
