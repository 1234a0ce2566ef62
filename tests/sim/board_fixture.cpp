#include "tests/sim/board_fixture.h"

namespace veltrix::sim::testing {

BoardFixture::BoardFixture()
    : options(veltrix::testing::BoardFor(scene, veltrix::testing::kDloadModel, 7)) {
    options.emmcPath.clear();  // a temporary eMMC, removed when the board stops
}

BoardFixture::~BoardFixture() {
    link.Close();
    board.reset();
}

void BoardFixture::StartBoard() {
    board = veltrix::testing::StartBoard(options);
    ASSERT_NE(board, nullptr);
}

std::filesystem::path BoardFixture::PortPath() const {
    return options.portsFolder / ("COM" + std::to_string(options.portNumber));
}

void BoardFixture::StartAndOpen() {
    StartBoard();
    ASSERT_EQ(link.Open(options.portNumber), 0);
}

std::filesystem::path BoardFixture::WriteFile(const std::string& name, const Bytes& bytes) {
    veltrix::testing::WriteBytes(scene.root() / name, bytes);
    return scene.root() / name;
}

}  // namespace veltrix::sim::testing
