#include "layout/program_list.h"

#include <iostream>

#include "layout/fixed_text.h"

namespace veltrix {
namespace {

std::optional<std::string> OptionalText(const char* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    return std::string(text);
}

bool IsListed(const ProgramList& list, std::string_view label) {
    for (int i = 0; i < list.count; ++i) {
        if (list.slots[i] && EqualsIgnoreAsciiCase(list.slots[i]->label, label)) {
            return true;
        }
    }
    return false;
}

}  // namespace

ProgramList::ProgramList() : console(nullptr) {}

const ProgramEntry* ProgramList::At(int index) const {
    if (index < 0 || index >= count) {
        if (console != nullptr) {
            *console << "Array Index out of bound exception" << std::endl;
        }
        return nullptr;
    }
    return slots[index].get();
}

AddResult AddProgramEntry(ProgramList& list, const char* label, const char* start_sector,
                          const char* num_partition_sectors, const char* start_byte_hex,
                          const char* size_in_KB, const char* filename) {
    if (label == nullptr || IsListed(list, label)) {
        return AddResult::kSkipped;
    }
    if (start_sector == nullptr || num_partition_sectors == nullptr || filename == nullptr) {
        return AddResult::kSkipped;
    }
    if (list.count >= kProgramListCapacity) {
        return AddResult::kListFull;
    }
    auto entry = std::make_unique<ProgramEntry>();
    entry->label = label;
    entry->start_sector = start_sector;
    entry->num_partition_sectors = num_partition_sectors;
    entry->start_byte_hex = OptionalText(start_byte_hex);
    entry->size_in_KB = OptionalText(size_in_KB);
    entry->filename = filename;
    list.slots[list.count] = std::move(entry);
    ++list.count;
    return AddResult::kAdded;
}

void ClearProgramList(ProgramList& list) {
    for (auto& slot : list.slots) {
        slot.reset();
    }
    list.count = 0;
}

}  // namespace veltrix
