#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/support/raw_fd.h"

namespace veltrix::testing {

PtyPair::PtyPair(int portNumber)
    : portNumber_(portNumber), ports_("VELTRIX_PORTS", folder_.path().string()) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    MakeRaw(master_);
    slavePath_ = ptsname(master_);
    slaveKeeper_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    MakeRaw(slaveKeeper_);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    std::filesystem::create_symlink(slavePath_,
                                    portsFolder() / ("COM" + std::to_string(portNumber_)));
}

PtyPair::~PtyPair() {
    if (slaveKeeper_ >= 0) {
        close(slaveKeeper_);
    }
    if (master_ >= 0) {
        close(master_);
    }
}

void PtyPair::Write(const Bytes& bytes) {
    WriteAll(master_, bytes, -1);
}

Bytes PtyPair::Read(size_t count, int timeoutMs) {
    return ReadUpTo(master_, count, timeoutMs);
}

Bytes PtyPair::ReadFrame(int timeoutMs) {
    return ReadRawFrame(master_, timeoutMs);
}

}  // namespace veltrix::testing
