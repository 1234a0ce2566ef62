#pragma once
// The host side of a protocol test: a real link on the slave of a pty, a fake clock, a console
// that the test reads, and a scripted board on the master.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "link/serial_link.h"
#include "protocol/programmer_session.h"
#include "tests/support/fake_clock.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scripted_board.h"

namespace veltrix::testing {

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        link.clock = &clock;
        link.console = &console;
        ASSERT_EQ(OpenPort(link, pty.portNumber()), 0);
        session.link = &link;
        tempDir = std::filesystem::path(::testing::TempDir()) /
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::create_directories(tempDir);
    }
    void TearDown() override { std::filesystem::remove_all(tempDir); }

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

    std::filesystem::path WriteFile(const std::string& name, const Bytes& bytes) {
        const auto path = tempDir / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    PtyPair pty;
    FakeClock clock;
    std::ostringstream console;
    SerialLink link;
    ProgrammerSession session;
    ScriptedBoard board{pty};
    std::filesystem::path tempDir;
};

// Bytes 0, 1, 2, ... (mod 251, so runs never repeat at 256-byte strides).
inline Bytes Pattern(size_t n, size_t from = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>((from + i) % 251);
    }
    return b;
}

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace veltrix::testing
