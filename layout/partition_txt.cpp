#include "layout/partition_txt.h"

#include <algorithm>
#include <string>
#include <utility>

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

int ReadPartitionTxt(const std::filesystem::path& file, std::vector<PartitionTxtRecord>& records,
                     std::string* problem) {
    std::string said;
    const auto say = [&](std::string text) {
        said = std::move(text);
        if (problem != nullptr) {
            *problem = said;
        }
    };
    say({});
    InputFile input;
    if (const int opened = input.Open(file); opened != 0) {
        if (opened != kErrorDirectory) {
            return kErrorFileNotFound;
        }
        say("partition.txt is a folder, not a regular file");
        return kErrorReadFault;
    }
    if (input.kind() != PathKind::kRegular) {
        say(std::string("partition.txt is ") + PathKindText(input.kind()) + ", not a regular file");
        return kErrorReadFault;  // a FIFO or a device is no index
    }
    // One byte more than 1024 records tells a longer file; records past the 1024th are not used.
    std::vector<uint8_t> bytes(kPartitionIndexCapacity * kPartitionTxtRecordSize + 1);
    const long long got = input.ReadFull(bytes.data(), bytes.size());
    if (got < 0) {
        say("partition.txt cannot be read: " + input.errorText());
        return kErrorReadFault;
    }
    const auto length = static_cast<size_t>(got);
    const size_t complete =
        std::min<size_t>(length / kPartitionTxtRecordSize, kPartitionIndexCapacity);
    if (length == bytes.size()) {
        say("partition.txt holds more than 1024 records; only the first 1024 are used");
    } else if (const size_t rest = length % kPartitionTxtRecordSize; rest != 0) {
        say("partition.txt ends in an incomplete record (" + std::to_string(rest) +
            " of 80 bytes: the file is cut short); it is not used");
    }
    records.clear();
    for (size_t i = 0; i < complete; ++i) {
        records.push_back(
            DecodePartitionTxtRecord(std::span<const uint8_t, kPartitionTxtRecordSize>(
                bytes.data() + i * kPartitionTxtRecordSize, kPartitionTxtRecordSize)));
    }
    return kErrorSuccess;
}

}  // namespace veltrix
