// The serial port on Windows: a COM port opened for synchronous I/O. Only the time-outs are set;
// the line settings (speed, parity, flow control, queue sizes) are never read or written.

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <string>

#include "base/result_codes.h"
#include "link/serial_port.h"

namespace veltrix {
namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// A cancelled read notices within this time.
constexpr DWORD kCancelSliceMs = 100;

// The named code for the Win32 error of the call that just failed (never 0, so a failure is never
// taken for success). A second opener of a COM port gets ERROR_ACCESS_DENIED: the port is busy.
int CodeOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return kErrorFileNotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return kErrorPortBusy;
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_BAD_COMMAND:
        case ERROR_OPERATION_ABORTED:
            return kErrorDeviceNotConnected;  // what a removed USB port reports
        default:
            return kErrorIoDevice;
    }
}

std::string SystemText(DWORD error) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   text, sizeof text, nullptr);
    return text;
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
    void WatchCancel(const std::atomic<bool>* cancel) override;
    std::string LastErrorText() const override { return lastError_; }

private:
    int Fail() {
        const DWORD error = GetLastError();
        lastError_ = SystemText(error);
        return CodeOf(error);
    }
    int Fail(int code, const char* text) {
        lastError_ = text;
        return code;
    }
    DWORD ReadSliceMs() const;
    void ApplyTimeouts();
    int ReadBuffered(uint8_t* buffer, size_t capacity, size_t* got);
    int WaitFirstByte(uint8_t* byte, size_t* got);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    uint32_t timeoutMs_ = 1000;
    const std::atomic<bool>* cancel_ = nullptr;
    std::string lastError_;
};

int Win32SerialPort::Open(const std::filesystem::path& device) {
    Close();
    // "\\.\COMn": a COM port admits one opener; a second gets ERROR_ACCESS_DENIED.
    HANDLE h = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const int code = Fail();
        const char* reason = code == kErrorFileNotFound ? "no such device"
                             : code == kErrorPortBusy   ? "held by another process"
                                                        : nullptr;
        if (reason != nullptr) {
            lastError_ = std::string(reason) + " (" + lastError_ + ")";
        }
        return code;
    }
    handle_ = h;
    ApplyTimeouts();
    return 0;
}

void Win32SerialPort::Close() {
    if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

void Win32SerialPort::SetTimeout(uint32_t ms) {
    timeoutMs_ = ms;
    ApplyTimeouts();
}

void Win32SerialPort::WatchCancel(const std::atomic<bool>* cancel) {
    cancel_ = cancel;
    ApplyTimeouts();
}

// One wait for the first byte: the whole time-out, or slices of 100 ms while a cancel flag is
// watched (never 0, which would make the wait a poll).
DWORD Win32SerialPort::ReadSliceMs() const {
    const DWORD slice = cancel_ && timeoutMs_ > kCancelSliceMs ? kCancelSliceMs : timeoutMs_;
    return slice > 0 ? slice : 1;
}

// Interval and multiplier MAXDWORD with a constant: a read returns at once with what is
// buffered, else waits up to the constant for the first byte, and returns no bytes after that.
void Win32SerialPort::ApplyTimeouts() {
    if (handle_ == INVALID_HANDLE_VALUE) {
        return;
    }
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = ReadSliceMs();
    t.WriteTotalTimeoutMultiplier = MAXDWORD;
    t.WriteTotalTimeoutConstant = timeoutMs_;
    (void)SetCommTimeouts(handle_, &t);
}

// Reads what the driver holds already, never more: a read for more than is there would, under
// Wine (which keeps waiting until the count is reached or the time is up), wait the whole
// time-out with the bytes in hand. A driver that cannot tell its count is read a byte at a time
// by the caller; its failures show on that read.
int Win32SerialPort::ReadBuffered(uint8_t* buffer, size_t capacity, size_t* got) {
    *got = 0;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_, &errors, &status)) {
        return 0;
    }
    const DWORD want = capacity < status.cbInQue ? static_cast<DWORD>(capacity) : status.cbInQue;
    DWORD read = 0;
    if (want > 0 && !ReadFile(handle_, buffer, want, &read, nullptr)) {
        return Fail();
    }
    *got = read;
    return 0;
}

// Waits up to the time-out for one byte, in slices while a cancel flag is watched.
int Win32SerialPort::WaitFirstByte(uint8_t* byte, size_t* got) {
    *got = 0;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs_;
    for (;;) {
        if (cancel_ && cancel_->load()) {
            return Fail(kErrorOperationAborted, "cancelled");
        }
        DWORD read = 0;
        if (!ReadFile(handle_, byte, 1, &read, nullptr)) {
            return Fail();
        }
        if (read > 0 || GetTickCount64() >= deadline) {
            *got = read;
            return 0;
        }
    }
}

// What is buffered at once; else the first byte as soon as it comes, with what came beside it.
int Win32SerialPort::Read(uint8_t* buffer, size_t capacity, size_t* got) {
    *got = 0;
    if (handle_ == INVALID_HANDLE_VALUE) {
        return Fail(kErrorInvalidHandle, "port closed");
    }
    if (capacity == 0) {
        return 0;
    }
    if (const int code = ReadBuffered(buffer, capacity, got); code != 0 || *got > 0) {
        return code;
    }
    if (const int code = WaitFirstByte(buffer, got); code != 0 || *got == 0) {
        return code;
    }
    // A failure here comes back on the next read; the byte in hand is delivered now.
    size_t more = 0;
    (void)ReadBuffered(buffer + 1, capacity - 1, &more);
    *got += more;
    return 0;
}

int Win32SerialPort::Write(const uint8_t* bytes, size_t length) {
    if (handle_ == INVALID_HANDLE_VALUE) {
        return Fail(kErrorInvalidHandle, "port closed");
    }
    // One synchronous write, as the board expects the frame in one piece; fewer bytes written
    // means the write time-out ran out.
    const DWORD want = length > MAXDWORD ? MAXDWORD : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteFile(handle_, bytes, want, &written, nullptr)) {
        return Fail();
    }
    return written == length ? 0 : Fail(kErrorSemTimeout, "write time-out");
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
