#pragma once
// What the tests on the board read from the PC for one run: the model (its families follow from
// its text) and its folder, the target directory with its partition index, and the model's
// program list; and where the run's dump files go. Built by the engine when a run starts; the
// tests only read it.

#include <filesystem>
#include <string>
#include <string_view>

#include "layout/partition_index.h"
#include "layout/program_list.h"

namespace veltrix {

struct RunFiles {
    std::string model;
    std::filesystem::path modelFolder;
    std::filesystem::path targetDir;
    const PartitionIndex& index;
    const ProgramList& programList;
    // The model folder's "dump" folder, or a board's own folder under it (a station's "COM3").
    std::filesystem::path dumpFolder;

    // The first index entry of `label` (UTF-8, ignoring ASCII case), or null.
    const ImagePartition* Find(std::string_view label) const {
        const int slot = FindImagePartition(index, label);
        return slot < kPartitionIndexCapacity ? index.imagePartitions[slot].get() : nullptr;
    }
};

}  // namespace veltrix
