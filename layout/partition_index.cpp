#include "layout/partition_index.h"

#include <algorithm>

#include "base/result_codes.h"
#include "layout/fixed_text.h"
#include "layout/total_image.h"

namespace veltrix {
namespace {

constexpr const char* kNoTargetDirMessage = "Please select target directory.  ";
constexpr const char* kNoPartitionTxtMessage =
    "partition.txt does not exist. Please extract the file from the total binary image.  ";
constexpr const char* kPartitionTxtReadMessage = "partition.txt cannot be read.  ";

void EmptyIndex(PartitionIndex& index) {
    for (auto& slot : index.imagePartitions) {
        slot.reset();
    }
    index.imagePartitionCount = 0;
}

}  // namespace

std::string_view LabelText(const ImagePartition& entry) {
    return FieldText(entry.label.data(), entry.label.size());
}

std::string_view FileNameText(const ImagePartition& entry) {
    return FieldText(entry.fileName.data(), entry.fileName.size());
}

int LoadPartitionIndex(PartitionIndex& index, const std::filesystem::path& targetDir,
                       LogView& view) {
    // Whatever happens, the index no longer describes an earlier folder: a run must not start
    // with the partitions of another folder than the one chosen.
    EmptyIndex(index);
    if (targetDir.empty()) {
        view.ShowMessage(kNoTargetDirMessage);
        return kErrorFileNotFound;
    }
    std::vector<PartitionTxtRecord> records;
    std::string problem;
    const int result = ReadPartitionTxt(targetDir / kPartitionTxtName, records, &problem);
    if (result != kErrorSuccess) {
        view.ShowMessage(result == kErrorFileNotFound ? kNoPartitionTxtMessage
                         : problem.empty()            ? kPartitionTxtReadMessage
                                                      : problem + ".  ");
        return result;
    }
    if (!problem.empty()) {
        view.ShowMessage(problem + ".  ");  // what is left out is said, not dropped silently
    }
    for (const PartitionTxtRecord& record : records) {
        auto entry = std::make_unique<ImagePartition>();
        entry->startSector = record.startSector;
        entry->sectorCount = record.sectorCount;
        entry->label = record.label;
        entry->fileName = record.fileName;
        index.imagePartitions[index.imagePartitionCount++] = std::move(entry);
    }
    return kErrorSuccess;
}

int FindImagePartition(const PartitionIndex& index, std::string_view label) {
    // The label is compared as a C string would be: up to a zero byte.
    label = FieldText(label.data(), label.size());
    for (uint32_t i = 0; i < index.imagePartitionCount; ++i) {
        const ImagePartition* entry = index.imagePartitions[i].get();
        if (entry != nullptr && EqualsIgnoreAsciiCase(Latin1ToUtf8(LabelText(*entry)), label)) {
            return static_cast<int>(i);
        }
    }
    return kPartitionIndexCapacity;
}

namespace {

bool SharesASector(const ImagePartition& entry, const PartitionPiece& piece) {
    const uint64_t entryEnd = uint64_t{entry.startSector} + entry.sectorCount;
    const uint64_t pieceEnd = uint64_t{piece.startSector} + piece.sectorCount;
    return entry.sectorCount > 0 && piece.sectorCount > 0 && entry.startSector < pieceEnd &&
           piece.startSector < entryEnd;
}

// An entry outside the pieces [first, last) that shares a sector with one of them.
const ImagePartition* OverlappingEntry(const PartitionIndex& index, uint32_t first, uint32_t last,
                                       const std::vector<PartitionPiece>& pieces) {
    for (uint32_t i = 0; i < index.imagePartitionCount; ++i) {
        const ImagePartition* entry = index.imagePartitions[i].get();
        if (entry == nullptr || (i >= first && i < last)) {
            continue;
        }
        for (const PartitionPiece& piece : pieces) {
            if (SharesASector(*entry, piece)) {
                return entry;
            }
        }
    }
    return nullptr;
}

}  // namespace

PartitionRoom FindPartitionRoom(const PartitionIndex& index, std::string_view label) {
    PartitionRoom room;
    const int found = FindImagePartition(index, label);
    if (found >= kPartitionIndexCapacity) {
        return room;
    }
    const auto first = static_cast<uint32_t>(found);
    room.entry = index.imagePartitions[first].get();
    const std::string_view wanted = LabelText(*room.entry);
    const uint64_t start = room.entry->startSector;
    uint64_t end = start;
    uint32_t last = first;
    for (; last < index.imagePartitionCount; ++last) {
        const ImagePartition* entry = index.imagePartitions[last].get();
        if (entry == nullptr || LabelText(*entry) != wanted) {
            break;
        }
        if (entry->startSector < end) {
            room.overlap = entry;  // a piece that goes back over the one before it
        }
        const uint64_t offset = entry->startSector >= start ? entry->startSector - start : 0;
        room.pieces.push_back({entry->startSector, entry->sectorCount, offset * kSectorSize});
        end = std::max(end, uint64_t{entry->startSector} + entry->sectorCount);
    }
    room.roomBytes = (end - start) * kSectorSize;
    if (room.overlap == nullptr) {
        room.overlap = OverlappingEntry(index, first, last, room.pieces);
    }
    return room;
}

std::vector<std::string> PartitionChoices(const PartitionIndex& index) {
    std::vector<std::string> labels;
    std::string_view remembered;
    for (uint32_t i = 0; i < index.imagePartitionCount; ++i) {
        const ImagePartition* entry = index.imagePartitions[i].get();
        if (entry == nullptr) {
            continue;
        }
        const std::string_view label = LabelText(*entry);
        if (label != remembered) {
            labels.push_back(Latin1ToUtf8(label));
            remembered = label;
        }
    }
    return labels;
}

std::optional<std::vector<std::string>> FillPartitionChoices(PartitionIndex& index,
                                                             const std::filesystem::path& targetDir,
                                                             LogView& view) {
    if (index.imagePartitionCount == 0) {
        LoadPartitionIndex(index, targetDir, view);
        return std::nullopt;
    }
    return PartitionChoices(index);
}

std::optional<std::filesystem::path> ImageFilePath(const std::filesystem::path& targetDir,
                                                   const ImagePartition& entry) {
    const std::string_view name = FileNameText(entry);
    if (!IsSafeFileName(name)) {
        return std::nullopt;
    }
    return targetDir / Latin1ToUtf8(name);
}

}  // namespace veltrix
