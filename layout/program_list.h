#pragma once
// The model's partition program list, read from "rawprogram0.xml": up to 100 "program" elements,
// in file order, keyed by label (ASCII case-insensitive, first one wins). The numeric attributes
// are kept as the file's text and never parsed.

#include <array>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

namespace veltrix {

struct ProgramEntry {
    std::string label;
    std::string start_sector;
    std::string num_partition_sectors;
    std::optional<std::string> start_byte_hex;  // absent attribute: no string
    std::optional<std::string> size_in_KB;      // absent attribute: no string
    std::string filename;                       // may be empty ("filename=\"\"")
};

inline constexpr int kProgramListCapacity = 100;

struct ProgramList {
    std::array<std::unique_ptr<ProgramEntry>, kProgramListCapacity> slots;
    // Slots 0 to count-1 are filled, in the order the elements were read.
    int count = 0;
    // Where the list writes its diagnostics (stdout).
    std::ostream* console;

    ProgramList();
    // Slot i for 0 <= i < count; otherwise writes "Array Index out of bound exception" to the
    // console and returns nullptr.
    const ProgramEntry* At(int index) const;
};

// What AddProgramEntry did with one element.
enum class AddResult {
    kAdded,
    kSkipped,  // no label, a required attribute missing, or the label is already listed
    kListFull  // a valid new entry that found all 100 slots taken; nothing was changed
};

// 1 when the document was loaded (entries are added to what the list holds, the list is not
// emptied first), -1 when it cannot be read or parsed (the list is unchanged). Walks the
// "program" elements before and inside the first "data" element. Elements that found the list
// full are not added; one line on the console then says how many.
// Files larger than kMaxProgramListBytes, and anything but a regular file, are refused (-1, a
// console line with the reason).
int LoadProgramList(ProgramList& list, const std::filesystem::path& path);
inline constexpr uint64_t kMaxProgramListBytes = 16u << 20;

// Adds one entry from attribute texts, each nullptr when the attribute is absent. Skipped when
// `label` is absent or already listed (ASCII case-insensitive), or when start_sector,
// num_partition_sectors or filename is absent. Writes nothing to the console.
AddResult AddProgramEntry(ProgramList& list, const char* label, const char* start_sector,
                          const char* num_partition_sectors, const char* start_byte_hex,
                          const char* size_in_KB, const char* filename);

// Frees every entry and sets count to 0.
void ClearProgramList(ProgramList& list);

}  // namespace veltrix
