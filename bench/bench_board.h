#pragma once
// Shared by the benchmarks that run against the simulated board: a fresh folder with the board's
// ports in it, a run view that shows nothing (a hook may act at each progress step), and the tiny
// Intel-HEX programmer the simulated boot ROM takes.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "diag/run_view.h"
#include "sim/simulated_board.h"

namespace bench {

// A new folder under /tmp named after `name`, whose "ports" folder the link looks in
// (VELTRIX_PORTS) for the boards of the options handed out by BoardIn.
inline std::filesystem::path FreshFolder(const std::string& name) {
    std::string pattern = "/tmp/veltrix-" + name + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("no folder for the benchmark under /tmp");
    }
    const std::filesystem::path folder = pattern;
    setenv("VELTRIX_PORTS", (folder / "ports").c_str(), 1);
    return folder;
}

// A simulated board on COM `port` in `folder`'s ports folder, its eMMC `emmcBytes` long.
inline veltrix::sim::BoardOptions BoardIn(const std::filesystem::path& folder, int port,
                                          uint64_t emmcBytes) {
    veltrix::sim::BoardOptions options;
    options.portNumber = port;
    options.portsFolder = folder / "ports";
    options.emmcSize = emmcBytes;
    return options;
}

// A view that ignores the run's output; `onProgress`, when set, runs at every progress step.
class QuietView final : public veltrix::RunView {
public:
    void InsertLogLine(int, const std::string&) override {}
    void DeleteLogLine(int) override {}
    void SelectLastLogLine() override {}
    void ShowMessage(const std::string&) override {}
    void PushStatus(const std::string&) override {}
    void SetProgress(int) override {
        if (onProgress) {
            onProgress();
        }
    }
    void SetResultBox(veltrix::ResultBox, const std::string&) override {}
    void ClearLog() override {}
    std::function<void()> onProgress;
};

// One Intel-HEX record line with its checksum.
inline std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                  static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                                  type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    uint8_t sum = 0;
    std::ostringstream line;
    line << ':';
    for (uint8_t b : bytes) {
        sum = static_cast<uint8_t>(sum + b);
        line << "0123456789ABCDEF"[b >> 4] << "0123456789ABCDEF"[b & 15];
    }
    const auto check = static_cast<uint8_t>(-sum);
    line << "0123456789ABCDEF"[check >> 4] << "0123456789ABCDEF"[check & 15] << '\n';
    return line.str();
}

// A tiny programmer at 0x10000: the simulated boot ROM runs whatever GO names.
inline void WriteProgrammer(const std::filesystem::path& path) {
    std::ofstream(path) << HexRecord(0x04, 0, {0x00, 0x01}) << HexRecord(0x00, 0, {0x5A, 0x5A})
                        << HexRecord(0x05, 0, {0x00, 0x01, 0x00, 0x00}) << HexRecord(0x01, 0, {});
}

}  // namespace bench
