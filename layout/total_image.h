#pragma once
// The tables at the front of a total binary image (offsets from the start of the file, numbers
// little-endian):
//   0x2010  16-byte partition records up to one whose start sector is FF FF FF FF; the table,
//           terminator included, ends by 0x4000 (510 records at most)
//   0x4000  layout mark: 34 12 78 56 puts the name table at 0x4220, anything else at 0x6230
//   names   one 32-byte name per record, in record order, zero-padded
//   0x100000 the data area: each record's data, back to back, in record order
// A record: start sector (0..3), not used (4..7), sector count (8..11), not used (12..15).

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_io.h"
#include "layout/partition_txt.h"

namespace veltrix {

inline constexpr size_t kImageBufferSize = 1 << 20;
inline constexpr uint64_t kSectorSize = 512;
inline constexpr uint64_t kRecordTableOffset = 0x2010;
inline constexpr size_t kImageRecordSize = 16;
inline constexpr uint64_t kRecordTableLimit = 0x4000;
inline constexpr uint64_t kLayoutMarkOffset = 0x4000;
inline constexpr uint32_t kNearLayoutMark = 0x56781234;  // the bytes 34 12 78 56
inline constexpr uint64_t kNearNameTableOffset = 0x4220;
inline constexpr uint64_t kFarNameTableOffset = 0x6230;
inline constexpr uint64_t kDataAreaOffset = 0x100000;
inline constexpr uint32_t kTableTerminator = 0xFFFFFFFF;
// Pieces of one partition further apart than this are refused: no device has such a gap (1 TiB,
// more than any eMMC holds), and its zeros would make a sparse file of terabytes.
inline constexpr uint64_t kMaxPieceGapSectors = uint64_t{1} << 31;
// Longest name whose file name (name + ".mbn") fits the 32-byte field of partition.txt.
inline constexpr size_t kMaxImageNameLength = kNameFieldLength - 4;

struct ImageRecord {
    uint32_t startSector = 0;
    uint32_t sectorCount = 0;
    std::array<char, kNameFieldLength> name{};  // as read; not necessarily zero-terminated

    uint64_t Length() const { return uint64_t{sectorCount} * kSectorSize; }
    std::string_view Name() const;
};

inline constexpr int kCopyReadFail = -1;
inline constexpr int kCopyCancelled = -2;

// Reads an image front to back, in pieces of at most 1 MiB, with one buffer of 1 MiB whatever
// the image size. The position is the number of bytes consumed so far; a read that gets fewer bytes
// than asked (short image, read error, file not open) fails and leaves the position where the image
// ran out.
class ImageStream {
public:
    // `cancel`, when given, is looked at before each piece CopyTo copies.
    explicit ImageStream(InputFile& file, const std::atomic<bool>* cancel = nullptr);
    // Reads `count` bytes (at most kImageBufferSize) into the buffer.
    bool Read(size_t count);
    // Reads and drops the bytes up to `position` (not behind the current position).
    bool SkipTo(uint64_t position);
    // Appends the next `count` bytes to `out`, at most 1 MiB at a time: copied by the kernel
    // where the files allow it (the data then does not pass through this process), otherwise
    // read into the buffer and written. 0; kCopyReadFail when the image ran out or could not be
    // read; kCopyCancelled when the cancel flag was set; or the errno of a failed write.
    int CopyTo(OutputFile& out, uint64_t count);
    const uint8_t* data() const { return buffer_.data(); }
    uint64_t position() const { return position_; }
    // Hears the position after every piece CopyTo has copied.
    std::function<void(uint64_t position)> onPiece;

private:
    InputFile& file_;
    const std::atomic<bool>* cancel_;
    std::vector<uint8_t> buffer_;
    uint64_t position_ = 0;
    bool inKernelCopy_ = true;
};

enum class TableResult { kOk, kReadFail, kTooManyRecords };

// Reads the records and their names and stops at the start of the data area.
TableResult ReadImageTable(ImageStream& stream, std::vector<ImageRecord>& records);

// Checks the table before anything is written: every name is a plain file name that fits
// partition.txt, the pieces of a partition (consecutive records of one name) follow each other
// on the device without overlap and without a gap no device has (kMaxPieceGapSectors), and a
// name does not come back after another one. Returns the
// run-log line for the first fault found, or nothing.
std::optional<std::string> CheckImageTable(const std::vector<ImageRecord>& records);

}  // namespace veltrix
