#pragma once
// The model's partition program list, read from "rawprogram0.xml": up to 100 "program" elements,
// in file order, keyed by label (ASCII case-insensitive, first one wins).

#include <array>
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
    std::optional<std::string> start_byte_hex;
    std::optional<std::string> size_in_KB;
    std::string filename;
};

inline constexpr int kProgramListCapacity = 100;

struct ProgramList {
    std::array<std::unique_ptr<ProgramEntry>, kProgramListCapacity> slots;
    int count = 0;
    // Where the list writes its diagnostics (stdout).
    std::ostream* console;

    ProgramList();
    // Slot i for 0 <= i < count; otherwise writes "Array Index out of bound exception" and
    // returns nullptr.
    const ProgramEntry* At(int index) const;
};

// 1 when the document was loaded (entries are added to what the list holds), -1 when it cannot
// be loaded or parsed (the list is unchanged).
int LoadProgramList(ProgramList& list, const std::filesystem::path& path);

void AddProgramEntry(ProgramList& list, const char* label, const char* start_sector,
                     const char* num_partition_sectors, const char* start_byte_hex,
                     const char* size_in_KB, const char* filename);

void ClearProgramList(ProgramList& list);

}  // namespace veltrix
