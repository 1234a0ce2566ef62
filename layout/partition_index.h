#pragma once
// The partition index read from "partition.txt" in the target directory: where each partition
// starts on the device, its sector count, its label and its image file name. Labels may repeat
// (one entry per piece of a split partition); a lookup by label finds the first.

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "layout/log_view.h"
#include "layout/partition_txt.h"

namespace veltrix {

struct ImagePartition {
    uint32_t startSector = 0;
    uint32_t sectorCount = 0;
    std::array<char, kNameFieldLength> label{};     // as read; not necessarily zero-terminated
    std::array<char, kNameFieldLength> fileName{};  // as read; not necessarily zero-terminated
};

// Owned by the object the front end creates; filled from slot 0 in file order.
struct PartitionIndex {
    std::array<std::unique_ptr<ImagePartition>, kPartitionIndexCapacity> imagePartitions;
    uint32_t imagePartitionCount = 0;
};

// The label and file name of an entry as text (Latin-1 bytes up to the first zero, at most 32).
std::string_view LabelText(const ImagePartition& entry);
std::string_view FileNameText(const ImagePartition& entry);

// Replaces the index with the records of "partition.txt" in `targetDir`. Returns 0 when the index
// was replaced. Otherwise shows a message box, leaves the index empty (so START refuses as it
// does without an index, rather than run with another folder's partitions) and returns
// kErrorFileNotFound (no target directory, no partition.txt) or kErrorReadFault (the message says
// why). A load that leaves records out (past the 1024th, an incomplete last one) says so too.
int LoadPartitionIndex(PartitionIndex& index, const std::filesystem::path& targetDir,
                       LogView& view);

// The first slot whose label equals `label` (UTF-8, as the UI shows it) ignoring ASCII case, or
// 1024 when there is none.
int FindImagePartition(const PartitionIndex& index, std::string_view label);

// The room of the partition `label` (UTF-8, ignoring ASCII case) in sectors: from the start of
// its first entry to the furthest end of any of its pieces, so the joined image of a split
// partition fits. 0 when the index has no such label.
uint64_t PartitionSpanSectors(const PartitionIndex& index, std::string_view label);

// The labels a partition combo offers (UTF-8), in index order: an entry is listed when its label
// differs (letter case counts) from the label listed last, which starts as empty text. So the
// pieces of a split partition show once and a leading empty label not at all. The combo sorts.
std::vector<std::string> PartitionChoices(const PartitionIndex& index);

// What a partition combo does when dropped down: with an empty index it loads the index from
// `targetDir` and returns nothing (the list is not refilled this time); otherwise it returns
// PartitionChoices for the combo to show in place of its list.
std::optional<std::vector<std::string>> FillPartitionChoices(PartitionIndex& index,
                                                             const std::filesystem::path& targetDir,
                                                             LogView& view);

// The image file of an entry: `targetDir` / its file-name field. Nothing when the field would
// not name a plain file inside `targetDir` (empty, ".", "..", a separator or a control
// character): such an entry must not be used for a restore.
std::optional<std::filesystem::path> ImageFilePath(const std::filesystem::path& targetDir,
                                                   const ImagePartition& entry);

}  // namespace veltrix
