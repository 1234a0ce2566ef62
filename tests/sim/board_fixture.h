#pragma once
// A simulated board of the scene on COM7 (small and fast, a temporary eMMC), and the host's real
// link and protocols against it (waits on a FakeClock, diagnostics in a console the test reads).
// Tests adjust `options` before calling StartBoard.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "link/serial_link.h"
#include "protocol/programmer_session.h"
#include "tests/support/fake_clock.h"
#include "tests/support/scene_board.h"

namespace veltrix::sim::testing {

using veltrix::testing::Bytes;

class BoardFixture : public ::testing::Test {
protected:
    BoardFixture();
    ~BoardFixture() override;

    void StartBoard();
    std::filesystem::path PortPath() const;

    // Starts the board and opens the host's link on its port.
    void StartAndOpen();
    // A file of the scene's root holding `bytes`.
    std::filesystem::path WriteFile(const std::string& name, const Bytes& bytes);

    veltrix::testing::BenchScene scene;
    BoardOptions options;
    std::unique_ptr<SimulatedBoard> board;
    veltrix::testing::FakeClock clock;
    std::ostringstream console;
    SerialLink link{clock, &console};
    ProgrammerSession session{&link};
};

}  // namespace veltrix::sim::testing
