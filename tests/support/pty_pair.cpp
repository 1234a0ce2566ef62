#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "tests/support/raw_fd.h"

namespace veltrix::testing {
namespace fs = std::filesystem;

PtyPair::PtyPair(int portNumber) : portNumber_(portNumber) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    MakeRaw(master_);
    slavePath_ = ptsname(master_);
    slaveKeeper_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    MakeRaw(slaveKeeper_);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

    char templ[] = "/tmp/veltrix-ports-XXXXXX";
    portsFolder_ = mkdtemp(templ);
    if (const char* old = std::getenv("VELTRIX_PORTS")) {
        hadPortsEnv_ = true;
        savedPortsEnv_ = old;
    }
    setenv("VELTRIX_PORTS", portsFolder_.c_str(), 1);
    fs::create_symlink(slavePath_, portsFolder_ / ("COM" + std::to_string(portNumber_)));
}

PtyPair::~PtyPair() {
    if (hadPortsEnv_) {
        setenv("VELTRIX_PORTS", savedPortsEnv_.c_str(), 1);
    } else {
        unsetenv("VELTRIX_PORTS");
    }
    std::error_code ec;
    fs::remove_all(portsFolder_, ec);
    if (slaveKeeper_ >= 0)
        close(slaveKeeper_);
    if (master_ >= 0)
        close(master_);
}

void PtyPair::Write(const std::vector<uint8_t>& bytes) {
    WriteAll(master_, bytes, -1);
}

std::vector<uint8_t> PtyPair::Read(size_t count, int timeoutMs) {
    return ReadUpTo(master_, count, timeoutMs);
}

std::vector<uint8_t> PtyPair::ReadFrame(int timeoutMs) {
    return ReadRawFrame(master_, timeoutMs);
}

std::vector<uint8_t> PtyPair::Drain(int timeoutMs) {
    return ReadUpTo(master_, SIZE_MAX, timeoutMs);
}

}  // namespace veltrix::testing
