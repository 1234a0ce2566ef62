#pragma once
// The model's partition program list, read from "rawprogram0.xml": up to 1024 "program" elements,
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

// Real lists hold tens to a few hundred partitions; a longer one is refused, not cut short.
inline constexpr int kProgramListCapacity = 1024;

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
// emptied first). Walks the "program" elements before and inside the first "data" element.
// Otherwise `*problem` (when given) says why in a few words, and the result is
// kProgramListUnreadable: the file is missing (`*problem` empty then), is not a regular file,
// is larger than kMaxProgramListBytes, or cannot be parsed (which line, and why: UTF-16, a NUL
// byte, an element with more than kMaxAttributesPerElement attributes, nesting too deep, empty,
// cut short); the list is unchanged. kProgramListTooLong when the list would hold more than
// kProgramListCapacity entries (those that fit were added).
inline constexpr int kProgramListUnreadable = -1;
inline constexpr int kProgramListTooLong = -2;
int LoadProgramList(ProgramList& list, const std::filesystem::path& path,
                    std::string* problem = nullptr);
inline constexpr uint64_t kMaxProgramListBytes = 16u << 20;
// A "program" element carries about a dozen attributes; a parse is refused before it starts
// when one element carries more than this (a parser's cost grows with their square).
inline constexpr int kMaxAttributesPerElement = 256;

// Adds one entry from attribute texts, each nullptr when the attribute is absent. Skipped when
// `label` is absent or already listed (ASCII case-insensitive), or when start_sector,
// num_partition_sectors or filename is absent. Writes nothing to the console.
AddResult AddProgramEntry(ProgramList& list, const char* label, const char* start_sector,
                          const char* num_partition_sectors, const char* start_byte_hex,
                          const char* size_in_KB, const char* filename);

// Frees every entry and sets count to 0.
void ClearProgramList(ProgramList& list);

}  // namespace veltrix
