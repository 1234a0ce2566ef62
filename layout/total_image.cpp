#include "layout/total_image.h"

#include <algorithm>
#include <set>

#include "base/byte_order.h"
#include "base/text_format.h"
#include "layout/fixed_text.h"

namespace veltrix {
namespace {

constexpr size_t kStartSectorOffset = 0;
constexpr size_t kSectorCountOffset = 8;
constexpr size_t kLayoutMarkSize = 4;

// Records until the terminator; false when a read fails, `tooMany` when the table would pass
// 0x4000.
bool ReadRecords(ImageStream& stream, std::vector<ImageRecord>& records, bool& tooMany) {
    for (;;) {
        if (stream.position() + kImageRecordSize > kRecordTableLimit) {
            tooMany = true;
            return false;
        }
        if (!stream.Read(kImageRecordSize)) {
            return false;
        }
        const uint32_t start = GetLe32(stream.data() + kStartSectorOffset);
        if (start == kTableTerminator) {
            return true;
        }
        ImageRecord record;
        record.startSector = start;
        record.sectorCount = GetLe32(stream.data() + kSectorCountOffset);
        records.push_back(record);
    }
}

}  // namespace

std::string_view ImageRecord::Name() const {
    return FieldText(name.data(), name.size());
}

ImageStream::ImageStream(InputFile& file, const std::atomic<bool>* cancel)
    : file_(file), cancel_(cancel), buffer_(kImageBufferSize) {}

bool ImageStream::Read(size_t count) {
    count = std::min(count, buffer_.size());
    const long long got = file_.ReadFull(buffer_.data(), count);
    if (got > 0) {
        position_ += static_cast<uint64_t>(got);
    }
    return got == static_cast<long long>(count);
}

bool ImageStream::SkipTo(uint64_t position) {
    while (position_ < position) {
        if (!Read(
                static_cast<size_t>(std::min<uint64_t>(position - position_, kImageBufferSize)))) {
            return false;
        }
    }
    return true;
}

int ImageStream::CopyTo(OutputFile& out, uint64_t count) {
    while (count > 0) {
        if (cancel_ != nullptr && cancel_->load()) {
            return kCopyCancelled;
        }
        const auto piece = static_cast<size_t>(std::min<uint64_t>(count, kImageBufferSize));
        if (inKernelCopy_) {
            const size_t copied = out.CopyFrom(file_, piece);
            position_ += copied;
            count -= copied;
            // Short: the image ended, or the files do not allow it; the buffer path tells which.
            inKernelCopy_ = copied == piece;
            if (onPiece && copied > 0) {
                onPiece(position_);
            }
            continue;
        }
        if (!Read(piece)) {
            return kCopyReadFail;
        }
        if (const int error = out.Write(buffer_.data(), piece); error != 0) {
            return error;
        }
        count -= piece;
        if (onPiece) {
            onPiece(position_);
        }
    }
    return 0;
}

TableResult ReadImageTable(ImageStream& stream, std::vector<ImageRecord>& records) {
    records.clear();
    bool tooMany = false;
    if (!stream.SkipTo(kRecordTableOffset) || !ReadRecords(stream, records, tooMany)) {
        return tooMany ? TableResult::kTooManyRecords : TableResult::kReadFail;
    }
    if (!stream.SkipTo(kLayoutMarkOffset) || !stream.Read(kLayoutMarkSize)) {
        return TableResult::kReadFail;
    }
    const bool near = GetLe32(stream.data()) == kNearLayoutMark;
    if (!stream.SkipTo(near ? kNearNameTableOffset : kFarNameTableOffset)) {
        return TableResult::kReadFail;
    }
    for (ImageRecord& record : records) {
        if (!stream.Read(kNameFieldLength)) {
            return TableResult::kReadFail;
        }
        std::copy_n(stream.data(), kNameFieldLength, record.name.begin());
    }
    return stream.SkipTo(kDataAreaOffset) ? TableResult::kOk : TableResult::kReadFail;
}

std::optional<std::string> CheckImageTable(const std::vector<ImageRecord>& records) {
    std::set<std::string_view> finished;  // names whose last piece has passed
    for (size_t i = 0; i < records.size(); ++i) {
        const std::string_view name = records[i].Name();
        const int number = static_cast<int>(i);
        if (!IsSafeFileName(name)) {
            return Format("ERROR - invalid partition name \"%s\" (record %d)",
                          PrintableName(name).c_str(), number);
        }
        if (name.size() > kMaxImageNameLength) {
            return Format("ERROR - partition name too long \"%s\" (record %d)",
                          PrintableName(name).c_str(), number);
        }
        const bool piece = i > 0 && records[i - 1].Name() == name;
        if (piece) {
            const ImageRecord& before = records[i - 1];
            const uint64_t end = uint64_t{before.startSector} + before.sectorCount;
            if (uint64_t{records[i].startSector} < end) {
                return Format("ERROR - pieces of %s go backwards or overlap (record %d)",
                              PrintableName(name).c_str(), number);
            }
            if (const uint64_t gap = records[i].startSector - end; gap >= kMaxPieceGapSectors) {
                return Format(
                    "ERROR - pieces of %s are 0x%llx sectors apart, more than any device "
                    "holds (record %d)",
                    PrintableName(name).c_str(), static_cast<unsigned long long>(gap), number);
            }
        } else if (!finished.insert(name).second) {
            return Format("ERROR - partition %s appears twice (record %d)",
                          PrintableName(name).c_str(), number);
        }
    }
    return std::nullopt;
}

}  // namespace veltrix
