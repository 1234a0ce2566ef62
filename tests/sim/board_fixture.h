#pragma once
// A simulated board on a private ports folder, small and fast: a 64 MiB eMMC, short reset and
// HELLO delays. Tests adjust `options` before calling StartBoard.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "sim/simulated_board.h"
#include "tests/sim/raw_host.h"

namespace veltrix::sim::testing {

class BoardFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/veltrix-sim-test-XXXXXX";
        folder_ = mkdtemp(templ);
        options.portsFolder = folder_ / "ports";
        options.portNumber = 7;
        options.emmcSize = 64ull << 20;
        options.resetDelayMs = 30;
        options.resetGraceMs = 300;
        options.helloDelayMs = 5;
        options.saharaDataIdleMs = 60;
    }
    void TearDown() override {
        board.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }

    void StartBoard() {
        board = std::make_unique<SimulatedBoard>(options);
        std::string error;
        ASSERT_TRUE(board->Start(&error)) << error;
    }
    std::filesystem::path PortPath() const { return options.portsFolder / "COM7"; }
    std::unique_ptr<RawHost> Connect() {
        auto host = std::make_unique<RawHost>(PortPath());
        EXPECT_TRUE(host->ok());
        return host;
    }
    bool WaitForMode(BoardMode mode, int timeoutMs = 2000) {
        return board->WaitUntil([&] { return board->mode() == mode; }, timeoutMs);
    }
    const std::filesystem::path& folder() const { return folder_; }

    // DLOAD GO, then the streaming handshake and OPEN MULTI-IMAGE 0x21.
    void BootProgrammer(RawHost& host);

    BoardOptions options;
    std::unique_ptr<SimulatedBoard> board;

private:
    std::filesystem::path folder_;
};

Bytes HelloRequest();
Bytes Text(const std::string& text);

}  // namespace veltrix::sim::testing
