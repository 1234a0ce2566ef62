#include "tests/sim/board_fixture.h"

#include "protocol/dload.h"
#include "protocol/streaming.h"

namespace veltrix::sim::testing {

BoardFixture::BoardFixture()
    : options(veltrix::testing::BoardFor(scene, veltrix::testing::kDloadModel, 7)) {
    options.emmcPath.clear();  // a temporary eMMC, removed when the board stops
    link.clock = &clock;
    link.console = &console;
}

BoardFixture::~BoardFixture() {
    ClosePort(link);
    board.reset();
}

void BoardFixture::StartBoard() {
    board = veltrix::testing::StartBoard(options);
    ASSERT_NE(board, nullptr);
}

std::filesystem::path BoardFixture::PortPath() const {
    return options.portsFolder / ("COM" + std::to_string(options.portNumber));
}

std::unique_ptr<RawHost> BoardFixture::Connect() {
    auto host = std::make_unique<RawHost>(PortPath());
    EXPECT_TRUE(host->ok());
    return host;
}

bool BoardFixture::WaitForMode(BoardMode mode, int timeoutMs) {
    return board->WaitUntil([&] { return board->mode() == mode; }, timeoutMs);
}

void BoardFixture::BootProgrammer(RawHost& host) {
    ASSERT_EQ(host.Exchange({0x05, 0x2A, 0x00, 0x00, 0x00}), Bytes{0x02});  // GO 0x2A000000
    ASSERT_EQ(board->mode(), BoardMode::kProgrammer);
    const std::string hello = "\x01QCOM fast download protocol host\x04\x02\x11";
    const auto answer = host.Exchange(Bytes(hello.begin(), hello.end()));
    ASSERT_TRUE(answer && !answer->empty());
    ASSERT_EQ((*answer)[0], 0x02);
    ASSERT_EQ(host.Exchange({0x17, 0x00}), Bytes{0x18});
    const auto open = host.Exchange({0x1B, 0x21});
    ASSERT_TRUE(open && !open->empty());
    ASSERT_EQ((*open)[0], 0x1C);
}

void BoardFixture::StartAndOpen() {
    StartBoard();
    ASSERT_EQ(OpenPort(link, options.portNumber), 0);
}

void BoardFixture::BootProgrammerThroughHost() {
    const auto hex = scene.root() / "programmer.hex";
    veltrix::testing::WriteText(
        hex, veltrix::testing::IntelHex(veltrix::testing::Noise(600), 0x2A000000));
    ASSERT_EQ(DloadNop(session), 0);
    ASSERT_EQ(UploadHexProgrammer(hex, session), 0);
    ASSERT_EQ(ConnectProgrammer(session), 0);
    ASSERT_EQ(OpenPartition(session), 0);
}

std::filesystem::path BoardFixture::WriteFile(const std::string& name, const Bytes& bytes) {
    veltrix::testing::WriteBytes(scene.root() / name, bytes);
    return scene.root() / name;
}

}  // namespace veltrix::sim::testing
