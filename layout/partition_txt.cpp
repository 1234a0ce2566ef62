#include "layout/partition_txt.h"

#include <algorithm>

#include "base/byte_order.h"
#include "base/file_io.h"
#include "base/result_codes.h"

namespace veltrix {
namespace {

constexpr size_t kStartSectorOffset = 0;
constexpr size_t kSectorCountOffset = 4;
constexpr size_t kLabelOffset = 16;
constexpr size_t kFileNameOffset = 48;

}  // namespace

void EncodePartitionTxtRecord(const PartitionTxtRecord& record,
                              std::span<uint8_t, kPartitionTxtRecordSize> out) {
    std::fill(out.begin(), out.end(), uint8_t{0});
    PutLe32(out.data() + kStartSectorOffset, record.startSector);
    PutLe32(out.data() + kSectorCountOffset, record.sectorCount);
    std::copy(record.label.begin(), record.label.end(), out.begin() + kLabelOffset);
    std::copy(record.fileName.begin(), record.fileName.end(), out.begin() + kFileNameOffset);
}

PartitionTxtRecord DecodePartitionTxtRecord(std::span<const uint8_t, kPartitionTxtRecordSize> in) {
    PartitionTxtRecord record;
    record.startSector = GetLe32(in.data() + kStartSectorOffset);
    record.sectorCount = GetLe32(in.data() + kSectorCountOffset);
    std::copy_n(in.begin() + kLabelOffset, kNameFieldLength, record.label.begin());
    std::copy_n(in.begin() + kFileNameOffset, kNameFieldLength, record.fileName.begin());
    return record;
}

int WritePartitionTxt(const std::filesystem::path& dir, std::span<const PartitionTxtRecord> records,
                      std::string* reason) {
    std::vector<uint8_t> bytes(records.size() * kPartitionTxtRecordSize);
    for (size_t i = 0; i < records.size(); ++i) {
        EncodePartitionTxtRecord(
            records[i], std::span<uint8_t, kPartitionTxtRecordSize>(
                            bytes.data() + i * kPartitionTxtRecordSize, kPartitionTxtRecordSize));
    }
    OutputFile file;
    int error = file.Create(dir / kPartitionTxtName);
    if (error == 0 && !bytes.empty()) {
        error = file.Write(bytes.data(), bytes.size());
    }
    if (error == 0) {
        error = file.Commit(/*sync=*/true);
    }
    if (error != 0 && reason != nullptr) {
        *reason = file.errorText();
    }
    return error;
}

int ReadPartitionTxt(const std::filesystem::path& file, std::vector<PartitionTxtRecord>& records) {
    InputFile input;
    if (input.Open(file) != 0) {
        return kErrorFileNotFound;
    }
    if (input.kind() != PathKind::kRegular) {
        return kErrorReadFault;  // a FIFO or a device is no index
    }
    // Records past the 1024th are never used, so they are not read.
    std::vector<uint8_t> bytes(kPartitionIndexCapacity * kPartitionTxtRecordSize);
    const long long got = input.ReadFull(bytes.data(), bytes.size());
    if (got < 0) {
        return kErrorReadFault;
    }
    const size_t complete = static_cast<size_t>(got) / kPartitionTxtRecordSize;
    records.clear();
    for (size_t i = 0; i < complete; ++i) {
        records.push_back(
            DecodePartitionTxtRecord(std::span<const uint8_t, kPartitionTxtRecordSize>(
                bytes.data() + i * kPartitionTxtRecordSize, kPartitionTxtRecordSize)));
    }
    return kErrorSuccess;
}

}  // namespace veltrix
