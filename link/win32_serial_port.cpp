// The serial port on Windows: a COM port opened for synchronous I/O. Only the time-outs are set;
// the line settings (speed, parity, flow control, queue sizes) are never read or written.

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "link/serial_port.h"

namespace veltrix {
namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// The code of the call that just failed; never 0, so a failure is never taken for success.
int LastErrorCode() {
    const DWORD error = GetLastError();
    return error != 0 ? static_cast<int>(error) : ERROR_GEN_FAILURE;
}

class Win32SerialPort final : public SerialPort {
public:
    ~Win32SerialPort() override { Close(); }

    int Open(const std::filesystem::path& device) override;
    void Close() override;
    bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }
    void SetTimeout(uint32_t ms) override;
    int Read(uint8_t* buffer, size_t capacity, size_t* got) override;
    int Write(const uint8_t* bytes, size_t length) override;
    void Purge() override;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

int Win32SerialPort::Open(const std::filesystem::path& device) {
    Close();
    // "\\.\COMn": a COM port admits one opener; a second gets ERROR_ACCESS_DENIED.
    HANDLE h = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return LastErrorCode();
    }
    handle_ = h;
    return 0;
}

void Win32SerialPort::Close() {
    if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

// Interval and multiplier MAXDWORD with a constant: a read returns at once with what is
// buffered, else waits up to `ms` for the first byte, and returns no bytes after that.
void Win32SerialPort::SetTimeout(uint32_t ms) {
    if (handle_ == INVALID_HANDLE_VALUE) {
        return;
    }
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = ms;
    t.WriteTotalTimeoutMultiplier = MAXDWORD;
    t.WriteTotalTimeoutConstant = ms;
    (void)SetCommTimeouts(handle_, &t);
}

int Win32SerialPort::Read(uint8_t* buffer, size_t capacity, size_t* got) {
    *got = 0;
    if (handle_ == INVALID_HANDLE_VALUE) {
        return ERROR_INVALID_HANDLE;
    }
    const DWORD want = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    DWORD read = 0;
    if (!ReadFile(handle_, buffer, want, &read, nullptr)) {
        return LastErrorCode();
    }
    *got = read;
    return 0;
}

int Win32SerialPort::Write(const uint8_t* bytes, size_t length) {
    if (handle_ == INVALID_HANDLE_VALUE) {
        return ERROR_INVALID_HANDLE;
    }
    // One synchronous write, as the board expects the frame in one piece; fewer bytes written
    // means the write time-out ran out.
    const DWORD want = length > MAXDWORD ? MAXDWORD : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteFile(handle_, bytes, want, &written, nullptr)) {
        return LastErrorCode();
    }
    return written == length ? 0 : kErrorSemTimeout;
}

void Win32SerialPort::Purge() {
    if (handle_ != INVALID_HANDLE_VALUE) {
        (void)PurgeComm(handle_, kPurgeAll);
    }
}

}  // namespace

std::unique_ptr<SerialPort> MakeSystemSerialPort() {
    return std::make_unique<Win32SerialPort>();
}

}  // namespace veltrix

#endif  // _WIN32
