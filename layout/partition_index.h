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

// One piece of a partition on the device, and where its bytes lie in the partition's image file:
// the extraction lays a split partition out as its pieces, with zeros for the sectors between
// them, which belong to other partitions and are never written back.
struct PartitionPiece {
    uint32_t startSector = 0;
    uint32_t sectorCount = 0;
    uint64_t fileOffset = 0;  // bytes from the start of the image file
};

// Where a partition may be written: its pieces and the room they span.
struct PartitionRoom {
    // The first entry of the label, or null when the index has none.
    const ImagePartition* entry = nullptr;
    // The first entry and the entries right after it with exactly its label, as the extraction
    // writes the pieces of a split partition. An entry of the same label elsewhere in the index
    // is not part of it.
    std::vector<PartitionPiece> pieces;
    // From the first piece's start to the last piece's end: the longest image that fits.
    uint64_t roomBytes = 0;
    // An entry of another partition that claims a sector of a piece (or a piece that goes back
    // over the one before it): the partition must not be written then. Null when none.
    const ImagePartition* overlap = nullptr;
};

// The room of the partition `label` (UTF-8, ignoring ASCII case).
PartitionRoom FindPartitionRoom(const PartitionIndex& index, std::string_view label);

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
