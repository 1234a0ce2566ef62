#pragma once
// A real pseudo-terminal pair for tests: the master is the peer's side (the "board"), the slave
// is linked as COMn in a private ports folder so the link opens it like a real port.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace veltrix::testing {

class PtyPair {
public:
    // Creates the pair with the master in raw mode, a temporary ports folder, sets
    // $VELTRIX_PORTS to it, and links COM<portNumber> to the slave.
    explicit PtyPair(int portNumber = 7);
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return master_; }
    int portNumber() const { return portNumber_; }
    const std::filesystem::path& slavePath() const { return slavePath_; }
    const std::filesystem::path& portsFolder() const { return portsFolder_; }

    // Writes all bytes to the master side.
    void Write(const std::vector<uint8_t>& bytes);
    // Reads from the master until `count` bytes arrived or `timeoutMs` passed.
    std::vector<uint8_t> Read(size_t count, int timeoutMs = 1000);
    // Reads from the master until a closing 0x7E flag (a byte 0x7E after at least one other
    // byte) or the time-out; returns the raw bytes.
    std::vector<uint8_t> ReadFrame(int timeoutMs = 1000);
    // Reads whatever arrives within `timeoutMs`.
    std::vector<uint8_t> Drain(int timeoutMs = 50);

private:
    int master_ = -1;
    int slaveKeeper_ = -1;  // keeps the slave open so the master never sees EIO
    int portNumber_;
    std::filesystem::path slavePath_;
    std::filesystem::path portsFolder_;
    std::string savedPortsEnv_;
    bool hadPortsEnv_ = false;
};

}  // namespace veltrix::testing
