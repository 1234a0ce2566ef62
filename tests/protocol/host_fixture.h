#pragma once
// The host side of a protocol test: a real link on the slave of a pty, a fake clock, a console
// that the test reads, and a scripted board on the master.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "link/serial_link.h"
#include "protocol/programmer_session.h"
#include "tests/support/bench_scene.h"
#include "tests/support/fake_clock.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scripted_board.h"

namespace veltrix::testing {

class HostTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(link.Open(pty.portNumber()), 0); }

    // Runs the host call while the board plays its script; checks the board saw no fault.
    template <typename Call>
    auto RunWithBoard(Call call) {
        board.Start();
        auto result = call();
        for (const std::string& fault : board.Finish()) {
            ADD_FAILURE() << "board: " << fault;
        }
        return result;
    }

    // A file of the test's folder holding `bytes`.
    std::filesystem::path File(const std::string& name, const Bytes& bytes) {
        WriteBytes(folder / name, bytes);
        return folder / name;
    }

    PtyPair pty;
    FakeClock clock;
    std::ostringstream console;
    SerialLink link{clock, &console};
    ProgrammerSession session{&link};
    ScriptedBoard board{pty};
    TempFolder folder;
};

}  // namespace veltrix::testing
