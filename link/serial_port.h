#pragma once
// The narrow transport under the framing: one class per operating system behind this interface.
// Results are system error codes: 0 for success, otherwise the code of the failed call.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace veltrix {

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the device for exclusive use. 0, or the system error code of the failed open.
    virtual int Open(const std::filesystem::path& device) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // The total time-out of one Read or Write, in milliseconds.
    virtual void SetTimeout(uint32_t ms) = 0;

    // Waits up to the time-out for the first byte, then returns what is buffered (at most
    // `capacity` bytes). `*got` is 0 after a time-out. Returns 0 or a system error code.
    virtual int Read(uint8_t* buffer, size_t capacity, size_t* got) = 0;

    // Writes all bytes within the time-out. Returns 0 or a system error code.
    virtual int Write(const uint8_t* bytes, size_t length) = 0;

    // Drops what is buffered in both directions.
    virtual void Purge() = 0;
};

// The implementation for the operating system this program runs on.
std::unique_ptr<SerialPort> MakeSystemSerialPort();

}  // namespace veltrix
