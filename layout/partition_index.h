#pragma once
// The partition index read from "partition.txt" in the target directory: where each partition
// starts on the device, its sector count, its label and its image file name.

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

#include "layout/log_view.h"

namespace veltrix {

inline constexpr int kPartitionIndexCapacity = 1024;
inline constexpr int kNameFieldLength = 32;

struct ImagePartition {
    uint32_t startSector = 0;
    uint32_t sectorCount = 0;
    std::array<char, kNameFieldLength> label{};     // as read; not necessarily zero-terminated
    std::array<char, kNameFieldLength> fileName{};  // as read; not necessarily zero-terminated
};

struct PartitionIndex {
    std::array<std::unique_ptr<ImagePartition>, kPartitionIndexCapacity> imagePartitions;
    uint32_t imagePartitionCount = 0;
};

// Replaces the index with the records of "partition.txt" in `targetDir`. On failure shows the
// message box and keeps the index as it was.
void LoadPartitionIndex(PartitionIndex& index, const std::filesystem::path& targetDir,
                        LogView& view);

// The first slot whose label equals `label` ignoring ASCII case, or 1024.
int FindImagePartition(const PartitionIndex& index, std::string_view label);

}  // namespace veltrix
