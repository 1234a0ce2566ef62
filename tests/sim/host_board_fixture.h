#pragma once
// The host's real link and protocols against the simulated board: the board serves COM7 in a
// private ports folder ($VELTRIX_PORTS points there for the link), the host waits on a FakeClock
// and writes its diagnostics into a console the test reads.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "link/serial_link.h"
#include "protocol/programmer_session.h"
#include "tests/sim/board_fixture.h"
#include "tests/support/fake_clock.h"

namespace veltrix::sim::testing {

class HostBoardFixture : public BoardFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the board and opens the host's link on its port.
    void StartAndOpen();
    // Writes `bytes` into a file of the test folder.
    std::filesystem::path WriteFile(const std::string& name, const Bytes& bytes);
    // A programmer image and its Intel-HEX made by objcopy, loaded at `address`.
    std::filesystem::path MakeHex(const Bytes& binary, uint32_t address, const std::string& name);
    // DloadNop, UploadHexProgrammer, ConnectProgrammer, OpenPartition.
    void BootProgrammerThroughHost();

    veltrix::testing::FakeClock clock;
    std::ostringstream console;
    SerialLink link;
    ProgrammerSession session;

private:
    std::string savedPorts_;
    bool hadPorts_ = false;
};

Bytes TestPattern(size_t size, unsigned seed = 1);

}  // namespace veltrix::sim::testing
