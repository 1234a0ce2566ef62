#pragma once
// The narrow transport under the framing: one class per operating system behind this interface.
// Results are the codes of base/result_codes.h: the class maps its platform's errors onto them and
// keeps the system's words for the last failure in LastErrorText.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "base/result_codes.h"

namespace veltrix {

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the device for exclusive use, in raw mode, line settings (speed) left as they are.
    // 0, or the code of the failed open: kErrorFileNotFound (no such device), kErrorAccessDenied
    // (no permission), kErrorPortBusy (another process holds the port).
    virtual int Open(const std::filesystem::path& device) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // The total time-out of one Read or Write, in milliseconds.
    virtual void SetTimeout(uint32_t ms) = 0;

    // Waits up to the time-out for the first byte, then returns what is buffered (at most
    // `capacity` bytes). `*got` is 0 after a time-out. Returns 0, kErrorDeviceNotConnected when the
    // device has gone, kErrorOperationAborted when cancelled, or another code of the failed call.
    virtual int Read(uint8_t* buffer, size_t capacity, size_t* got) = 0;

    // Writes all bytes within the time-out. Returns 0, kErrorSemTimeout when the time-out ran
    // out first, kErrorOperationAborted when cancelled, or the code of the failed call.
    virtual int Write(const uint8_t* bytes, size_t length) = 0;

    // Drops what is buffered in both directions.
    virtual void Purge() = 0;

    // While `*cancel` is set, a Read or Write that would wait returns kErrorOperationAborted
    // within about 100 ms. Null: waits run their whole time-out.
    virtual void WatchCancel(const std::atomic<bool>* cancel) = 0;

    // The system's words for the last failure ("Input/output error").
    virtual std::string LastErrorText() const = 0;
};

// The implementation for the operating system this program runs on.
std::unique_ptr<SerialPort> MakeSystemSerialPort();

}  // namespace veltrix
