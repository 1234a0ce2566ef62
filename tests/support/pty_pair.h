#pragma once
// A real pseudo-terminal pair for tests: the master is the peer's side (the "board"), the slave
// is linked as COMn in a private ports folder that $VELTRIX_PORTS names while the pair lives, so
// the link opens it like a real port. POSIX only.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "tests/support/bench_scene.h"

namespace veltrix::testing {

class PtyPair {
public:
    explicit PtyPair(int portNumber = 7);
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return master_; }
    // A descriptor of the slave kept open by the pair: what the port has not read yet is
    // queued there.
    int slave() const { return slaveKeeper_; }
    int portNumber() const { return portNumber_; }
    const std::filesystem::path& slavePath() const { return slavePath_; }
    const std::filesystem::path& portsFolder() const { return folder_.path(); }

    // Writes all bytes to the master side.
    void Write(const Bytes& bytes);
    // Reads from the master until `count` bytes arrived or `timeoutMs` passed.
    Bytes Read(size_t count, int timeoutMs = 1000);
    // Reads from the master up to a closing 0x7E flag (after at least one other byte) or the
    // time-out; the raw bytes.
    Bytes ReadFrame(int timeoutMs = 1000);
    // Whatever arrives within `timeoutMs`.
    Bytes Drain(int timeoutMs = 50) { return Read(SIZE_MAX, timeoutMs); }

private:
    int master_ = -1;
    int slaveKeeper_ = -1;  // keeps the slave open so the master never sees EIO
    int portNumber_;
    std::filesystem::path slavePath_;
    TempFolder folder_;
    ScopedEnv ports_;
};

}  // namespace veltrix::testing
