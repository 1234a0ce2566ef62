#pragma once
// Builds Intel-HEX record lines with correct checksums for the tests.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace veltrix::testing {

inline std::string HexRecordLine(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                  static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                                  type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : bytes)
        sum = static_cast<uint8_t>(sum + b);
    bytes.push_back(static_cast<uint8_t>(-sum));
    std::string line = ":";
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        line += pair;
    }
    return line + "\n";
}

// Data records of `recordSize` bytes covering `data`, at 16-bit offsets from `offset`.
inline std::string HexDataLines(uint16_t offset, const std::vector<uint8_t>& data,
                                size_t recordSize = 16) {
    std::string text;
    for (size_t i = 0; i < data.size(); i += recordSize) {
        const size_t n = std::min(recordSize, data.size() - i);
        text += HexRecordLine(0x00, static_cast<uint16_t>(offset + i),
                              std::vector<uint8_t>(data.begin() + i, data.begin() + i + n));
    }
    return text;
}

inline std::string HexUpper(uint16_t upper) {
    return HexRecordLine(0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}
inline std::string HexStart(uint32_t start) {
    return HexRecordLine(0x05, 0,
                         {static_cast<uint8_t>(start >> 24), static_cast<uint8_t>(start >> 16),
                          static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start)});
}
inline const std::string kHexEnd = ":00000001FF\n";

}  // namespace veltrix::testing
