#pragma once
// "partition.txt": a plain sequence of 80-byte records, no header, one per image record in image
// order. Little-endian fields:
//   0  4  start sector          4  4  sector count        8  8  zero
//   16 32 label (zero-padded, not necessarily zero-terminated)
//   48 32 file name, the label followed by ".mbn" (same padding)

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace veltrix {

inline constexpr size_t kPartitionTxtRecordSize = 80;
inline constexpr size_t kNameFieldLength = 32;
inline constexpr int kPartitionIndexCapacity = 1024;
inline constexpr const char* kPartitionTxtName = "partition.txt";

struct PartitionTxtRecord {
    uint32_t startSector = 0;
    uint32_t sectorCount = 0;
    std::array<char, kNameFieldLength> label{};
    std::array<char, kNameFieldLength> fileName{};
};

void EncodePartitionTxtRecord(const PartitionTxtRecord& record,
                              std::span<uint8_t, kPartitionTxtRecordSize> out);
PartitionTxtRecord DecodePartitionTxtRecord(std::span<const uint8_t, kPartitionTxtRecordSize> in);

// Writes "partition.txt" in `dir` whole or not at all (a temporary file flushed to the disk, then
// renamed over the old one). 0 or the code of the failure, whose words go into `*reason` when
// given; on failure an existing partition.txt is unchanged.
int WritePartitionTxt(const std::filesystem::path& dir, std::span<const PartitionTxtRecord> records,
                      std::string* reason = nullptr);

// Reads the complete records of `file`, at most 1024. 0; kErrorFileNotFound (2) when the file
// cannot be opened; kErrorReadFault (30) on a read error, or when it is not a regular file (a
// folder, a FIFO, a device: such an index is no index, and may never end). `records` is filled
// only on success. `*problem`, when given, says what was wrong, or on success what was not used:
// records past the 1024th, or an incomplete last record (a file cut short); empty when nothing.
int ReadPartitionTxt(const std::filesystem::path& file, std::vector<PartitionTxtRecord>& records,
                     std::string* problem = nullptr);

}  // namespace veltrix
