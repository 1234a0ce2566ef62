// Reading "partition.txt" into the partition index, the lookup by label and the safe image path.
// The input is the file. Checks: one entry per complete 80-byte record (at most 1024), each the
// record as stored (encoding it again gives back its bytes, less the unused zero field); a
// lookup by any entry's label finds the first entry with that label, ignoring ASCII case only;
// an image path, when given, is one plain name inside the target folder; the choices list each
// run of one label once.

#include <algorithm>
#include <array>

#include "fuzz/fuzz_support.h"
#include "layout/fixed_text.h"
#include "layout/partition_index.h"
#include "layout/partition_txt.h"

namespace veltrix::fuzz {
namespace {

char Fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Fold(x) == Fold(y); });
}

void CheckEntry(const PartitionIndex& index, uint32_t i, const uint8_t* stored,
                const std::filesystem::path& folder) {
    const ImagePartition& entry = *index.imagePartitions[i];
    PartitionTxtRecord record;
    record.startSector = entry.startSector;
    record.sectorCount = entry.sectorCount;
    record.label = entry.label;
    record.fileName = entry.fileName;
    std::array<uint8_t, kPartitionTxtRecordSize> bytes{};
    EncodePartitionTxtRecord(record, bytes);
    for (size_t b = 0; b < kPartitionTxtRecordSize; ++b) {
        FUZZ_CHECK(bytes[b] == ((b >= 8 && b < 16) ? 0 : stored[b]));
    }
    // The lookup finds the first entry whose label, as the UI shows it, matches.
    const std::string label = Latin1ToUtf8(LabelText(entry));
    const int found = FindImagePartition(index, label);
    FUZZ_CHECK(found >= 0 && static_cast<uint32_t>(found) <= i);
    for (int j = 0; j < found; ++j) {
        FUZZ_CHECK(
            !SameIgnoringAsciiCase(Latin1ToUtf8(LabelText(*index.imagePartitions[j])), label));
    }
    FUZZ_CHECK(
        SameIgnoringAsciiCase(Latin1ToUtf8(LabelText(*index.imagePartitions[found])), label));
    // The image file never lies outside the target folder.
    const auto path = ImageFilePath(folder, entry);
    const std::string_view name = FileNameText(entry);
    FUZZ_CHECK(path.has_value() == IsSafeFileName(name));
    if (path) {
        FUZZ_CHECK(path->parent_path() == folder);
        FUZZ_CHECK(path->filename() == Latin1ToUtf8(name));
        FUZZ_CHECK(path->filename() != "." && path->filename() != "..");
    }
}

}  // namespace
}  // namespace veltrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veltrix;
    using namespace veltrix::fuzz;
    const std::filesystem::path folder = ScratchFolder() / "target";
    std::filesystem::create_directories(folder);
    WriteBytes(folder / kPartitionTxtName, Bytes(data, data + size));
    PartitionIndex index;
    LineView view;
    FUZZ_CHECK(LoadPartitionIndex(index, folder, view) == kErrorSuccess);
    const size_t expected =
        std::min<size_t>(size / kPartitionTxtRecordSize, kPartitionIndexCapacity);
    // A message says what was left out: records past the 1024th, or an incomplete last one.
    const bool leftOut =
        size > kPartitionIndexCapacity * kPartitionTxtRecordSize || size % kPartitionTxtRecordSize;
    FUZZ_CHECK(index.imagePartitionCount == expected &&
               view.messages.size() == (leftOut ? 1u : 0u));
    for (uint32_t i = 0; i < index.imagePartitionCount; ++i) {
        FUZZ_CHECK(index.imagePartitions[i] != nullptr);
        CheckEntry(index, i, data + i * kPartitionTxtRecordSize, folder);
    }
    for (size_t i = index.imagePartitionCount; i < kPartitionIndexCapacity; ++i) {
        FUZZ_CHECK(index.imagePartitions[i] == nullptr);
    }
    // Each run of one label shows once in the choices.
    const std::vector<std::string> choices = PartitionChoices(index);
    size_t runs = 0;
    for (uint32_t i = 0; i < index.imagePartitionCount; ++i) {
        const std::string_view label = LabelText(*index.imagePartitions[i]);
        const std::string_view before =
            i == 0 ? std::string_view() : LabelText(*index.imagePartitions[i - 1]);
        runs += label != before ? 1 : 0;
    }
    FUZZ_CHECK(choices.size() == runs);
    // A load from a folder without partition.txt leaves no index behind.
    FUZZ_CHECK(LoadPartitionIndex(index, ScratchFolder() / "none", view) == kErrorFileNotFound);
    FUZZ_CHECK(index.imagePartitionCount == 0 && view.messages.size() == (leftOut ? 2u : 1u));
    return 0;
}
