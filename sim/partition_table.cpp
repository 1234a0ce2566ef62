#include "sim/partition_table.h"

#include "sim/file_bytes.h"
#include "sim/wire.h"

namespace veltrix::sim {
namespace {

constexpr size_t kLabelOffset = 16;
constexpr size_t kFileNameOffset = 48;
constexpr size_t kTextField = 32;

std::string TextField(std::span<const uint8_t> record, size_t offset) {
    std::string out;
    for (size_t i = offset; i < offset + kTextField && record[i] != 0; ++i) {
        out.push_back(static_cast<char>(record[i]));
    }
    return out;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<PartitionRecord> ParsePartitionTxt(std::span<const uint8_t> bytes) {
    std::vector<PartitionRecord> table;
    for (size_t at = 0;
         at + kPartitionRecordSize <= bytes.size() && table.size() < kMaxPartitionRecords;
         at += kPartitionRecordSize) {
        const auto record = bytes.subspan(at, kPartitionRecordSize);
        table.push_back({GetLe32(record, 0), GetLe32(record, 4), TextField(record, kLabelOffset),
                         TextField(record, kFileNameOffset)});
    }
    return table;
}

std::optional<std::vector<PartitionRecord>> LoadPartitionTxt(const std::filesystem::path& path,
                                                             std::string* error) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, &bytes, error)) {
        return std::nullopt;
    }
    return ParsePartitionTxt(bytes);
}

const PartitionRecord* FindPartition(const std::vector<PartitionRecord>& table,
                                     std::string_view label) {
    for (const auto& record : table) {
        if (EqualsIgnoringCase(record.label, label)) {
            return &record;
        }
    }
    return nullptr;
}

}  // namespace veltrix::sim
