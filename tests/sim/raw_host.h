#pragma once
// The host end of a simulated board's port for the simulator's own tests: opens the COMn link
// like a serial port and talks with the frame codec and raw reads and writes only.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace veltrix::sim::testing {

using Bytes = std::vector<uint8_t>;

class RawHost {
public:
    explicit RawHost(const std::filesystem::path& port);
    ~RawHost() { Close(); }
    RawHost(const RawHost&) = delete;
    RawHost& operator=(const RawHost&) = delete;

    bool ok() const { return fd_ >= 0; }
    void Close();

    void Write(const Bytes& bytes);
    void WriteFrame(const Bytes& body);
    // One raw frame up to its closing flag, or what came before the time-out.
    Bytes ReadFrame(int timeoutMs = 1000);
    // Frames the request, sends it and returns the unstuffed reply without its FCS; nothing on
    // a time-out. `fcsOk` tells whether the reply's FCS was right.
    std::optional<Bytes> Exchange(const Bytes& request, int timeoutMs = 1000,
                                  bool* fcsOk = nullptr);

private:
    int fd_ = -1;
};

// Little helpers for building requests.
void AppendLe32(Bytes& out, uint32_t v);
void AppendBe32(Bytes& out, uint32_t v);
void AppendBe16(Bytes& out, uint16_t v);
uint32_t Le32At(const Bytes& b, size_t at);

}  // namespace veltrix::sim::testing
