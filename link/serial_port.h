#pragma once
// The narrow transport under the framing: one class per operating system behind this interface.
// Results are system error codes: 0 for success, otherwise the code of the failed call.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace veltrix {

// Codes of the port beside the system's own. On POSIX the errno of a failed call is passed
// through, except that a device that does not exist (ENOENT, ENXIO, ENODEV) gives 2
// (ERROR_FILE_NOT_FOUND), as a missing COM port does on Windows.
#ifdef _WIN32
// Windows refuses a second opener of a COM port with ERROR_ACCESS_DENIED.
inline constexpr int kErrorPortBusy = 5;
#else
// Another process holds the port (flock or TIOCEXCL): EBUSY.
inline constexpr int kErrorPortBusy = 16;
// The device went away under an open port (read() of 0, or EIO): EIO. Windows passes on what
// ReadFile or WriteFile reports.
inline constexpr int kErrorPortHangUp = 5;
#endif
// A write that could not finish within the time-out (Win32 ERROR_SEM_TIMEOUT).
inline constexpr int kErrorSemTimeout = 121;

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the device for exclusive use, in raw mode, line settings (speed) left as they are.
    // 0, or the system error code of the failed open; kErrorPortBusy when another process holds
    // the port.
    virtual int Open(const std::filesystem::path& device) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // The total time-out of one Read or Write, in milliseconds.
    virtual void SetTimeout(uint32_t ms) = 0;

    // Waits up to the time-out for the first byte, then returns what is buffered (at most
    // `capacity` bytes). `*got` is 0 after a time-out. Returns 0 or a system error code.
    virtual int Read(uint8_t* buffer, size_t capacity, size_t* got) = 0;

    // Writes all bytes within the time-out. Returns 0, kErrorSemTimeout when the time-out ran
    // out first, or a system error code.
    virtual int Write(const uint8_t* bytes, size_t length) = 0;

    // Drops what is buffered in both directions.
    virtual void Purge() = 0;
};

// The implementation for the operating system this program runs on.
std::unique_ptr<SerialPort> MakeSystemSerialPort();

}  // namespace veltrix
