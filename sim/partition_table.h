#pragma once
// The board side's reading of partition.txt: 80-byte records (start sector u32, sector count
// u32, 8 zero bytes, 32-byte label, 32-byte file name), no header. Used to find the SDRAM test's
// boot and verdict partitions on the simulated eMMC.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veltrix::sim {

struct PartitionRecord {
    uint32_t startSector = 0;
    uint32_t sectorCount = 0;
    std::string label;     // up to 32 bytes, cut at the first zero byte
    std::string fileName;  // likewise
};

inline constexpr size_t kPartitionRecordSize = 80;
inline constexpr size_t kMaxPartitionRecords = 1024;

// Parses whole records from the bytes of a partition.txt; a trailing partial record is ignored,
// and at most 1024 records are read.
std::vector<PartitionRecord> ParsePartitionTxt(std::span<const uint8_t> bytes);

// Reads and parses the file; nothing on a read failure (with `error` set).
std::optional<std::vector<PartitionRecord>> LoadPartitionTxt(const std::filesystem::path& path,
                                                             std::string* error);

// The first record whose label equals `label` ignoring ASCII case.
const PartitionRecord* FindPartition(const std::vector<PartitionRecord>& table,
                                     std::string_view label);

}  // namespace veltrix::sim
