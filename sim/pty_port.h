#pragma once
// The board's end of the serial line: a pseudo-terminal whose master the board holds and whose
// slave is linked as COMn in the ports folder, where the host opens it like a real port.
// A master sees EIO/POLLHUP while no one holds the slave; the port rides that out and reports
// it as "no host".

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace veltrix::sim {

class PtyPort {
public:
    enum class ReadStatus { kData, kTimeout, kNoHost, kWoken, kError };

    PtyPort() = default;
    ~PtyPort() { Close(); }
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Creates the pseudo-terminal (raw mode) and links `folder`/COM<n> to its slave, replacing a
    // stale link; anything at that path that is not a link is left alone and refused.
    // Returns false with `error` set on failure (nothing is left open then).
    bool Open(const std::filesystem::path& folder, int portNumber, std::string* error);
    // Removes the link (when it still points at this port): no new opener finds the port, while
    // a host that holds it keeps it until Close.
    void Unlink();
    // Unlink, and closes the master.
    void Close();
    bool IsOpen() const { return master_ >= 0; }

    const std::filesystem::path& slavePath() const { return slavePath_; }
    const std::filesystem::path& linkPath() const { return linkPath_; }

    // Every wait also returns (kWoken / false) as soon as this descriptor polls readable.
    void SetWakeFd(int fd) { wakeFd_ = fd; }

    // True while the host holds the slave open.
    bool HostPresent() const;
    // Waits up to `timeoutMs` for bytes from the host and reads what is there.
    ReadStatus Read(uint8_t* buffer, size_t capacity, size_t* got, int timeoutMs);
    // The same, waiting up to `timeout` (finer than a millisecond).
    ReadStatus ReadFor(uint8_t* buffer, size_t capacity, size_t* got,
                       std::chrono::microseconds timeout);
    // Reads exactly `count` bytes unless the host leaves, the wake fd fires, or no byte arrives
    // for `idleMs`. Returns the number read.
    size_t ReadExact(uint8_t* buffer, size_t count, int idleMs);
    // Writes every byte within `timeoutMs`; false when the host left or time ran out.
    bool Write(std::span<const uint8_t> bytes, int timeoutMs);
    // After the host closed the port: drops what it left unread and clears the exclusive-open
    // mode it may have set, so its next open starts clean. False when the slave cannot be
    // opened for that (then the caller re-creates the port).
    bool ResetAfterHost();

private:
    int PollMaster(short events, int timeoutMs) const;
    int PollMaster(short events, std::chrono::microseconds timeout) const;

    int master_ = -1;
    int wakeFd_ = -1;
    std::filesystem::path slavePath_;
    std::filesystem::path linkPath_;
};

}  // namespace veltrix::sim
