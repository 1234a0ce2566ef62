#pragma once
// Which simulator serves COMn: an exclusive lock on "COMn.lock" beside the link, held from Start
// to Stop. The system drops the lock when its process dies however it dies, so a link left by a
// killed simulator can be told from the link of one that still runs.

#include <filesystem>
#include <string>

namespace veltrix::sim {

class PortLock {
public:
    PortLock() = default;
    ~PortLock() { Release(); }
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // Takes the lock of port `portNumber` in `folder` (created when missing) and writes this
    // process's id into it. False with `error` set when another simulator holds it (its process
    // id named) or the lock file cannot be made (a link planted in its place is not followed).
    bool Acquire(const std::filesystem::path& folder, int portNumber, std::string* error);
    // Removes the lock file and lets go. Harmless when not held.
    void Release();

private:
    int fd_ = -1;
    std::filesystem::path path_;
};

}  // namespace veltrix::sim
