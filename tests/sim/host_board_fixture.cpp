#include "tests/sim/host_board_fixture.h"

#include <cstdlib>
#include <fstream>

#include "protocol/dload.h"
#include "protocol/streaming.h"

namespace veltrix::sim::testing {

Bytes TestPattern(size_t size, unsigned seed) {
    Bytes b(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<uint8_t>(x >> 16);
    }
    return b;
}

void HostBoardFixture::SetUp() {
    BoardFixture::SetUp();
    if (const char* old = std::getenv("VELTRIX_PORTS")) {
        hadPorts_ = true;
        savedPorts_ = old;
    }
    setenv("VELTRIX_PORTS", options.portsFolder.c_str(), 1);
    link.clock = &clock;
    link.console = &console;
    session.link = &link;
}

void HostBoardFixture::TearDown() {
    ClosePort(link);
    if (hadPorts_) {
        setenv("VELTRIX_PORTS", savedPorts_.c_str(), 1);
    } else {
        unsetenv("VELTRIX_PORTS");
    }
    BoardFixture::TearDown();
}

void HostBoardFixture::StartAndOpen() {
    StartBoard();
    ASSERT_EQ(OpenPort(link, options.portNumber), 0);
}

std::filesystem::path HostBoardFixture::WriteFile(const std::string& name, const Bytes& bytes) {
    const auto path = folder() / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::filesystem::path HostBoardFixture::MakeHex(const Bytes& binary, uint32_t address,
                                                const std::string& name) {
    const auto bin = WriteFile(name + ".bin", binary);
    const auto hex = folder() / (name + ".hex");
    // --change-addresses moves the start address (the 05 record) along with the data.
    const std::string command = "objcopy -I binary -O ihex --change-addresses " +
                                std::to_string(address) + " '" + bin.string() + "' '" +
                                hex.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return hex;
}

void HostBoardFixture::BootProgrammerThroughHost() {
    const auto hex = MakeHex(TestPattern(600), 0x2A000000, "programmer");
    ASSERT_EQ(DloadNop(session), 0);
    ASSERT_EQ(UploadHexProgrammer(hex, session), 0);
    ASSERT_EQ(ConnectProgrammer(session), 0);
    ASSERT_EQ(OpenPartition(session), 0);
}

}  // namespace veltrix::sim::testing
