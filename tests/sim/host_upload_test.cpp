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

using HostUpload = BoardFixture;

TEST_F(HostUpload, RefusedWrite32StopsTheUploadWith29AndNoGo) {
    options.faults.push_back(*ParseFault("refuse-write,nth=3", nullptr));
    StartAndOpen();
    const auto hex = scene.root() / "loader.hex";
    veltrix::testing::WriteText(hex, IntelHex(Noise(4096), 0x10000));
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
    ASSERT_TRUE(board->WaitUntil([&] { return board->mode() == BoardMode::kProgrammer; }, 2000));
    EXPECT_EQ(board->SaharaImage(), image);
    const auto response = board->SaharaHelloResponse();
    ASSERT_EQ(response.size(), 48u);
    EXPECT_EQ(GetLe32(response, 0), 2u);
    EXPECT_EQ(GetLe32(response, 20), 3u) << "the ROM's mode is echoed";
    const auto served = board->SaharaRequestsServed();
    ASSERT_GE(served.size(), 3u);
    EXPECT_EQ(served[1].received, 40000u);
}

}  // namespace
}  // namespace veltrix::sim::testing
