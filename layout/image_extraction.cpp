#include "layout/image_extraction.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <vector>

#include "base/result_codes.h"
#include "base/text_format.h"
#include "layout/fixed_text.h"
#include "layout/partition_txt.h"
#include "layout/total_image.h"

namespace veltrix {
namespace {

constexpr const char* kImageSuffix = ".mbn";

// The extraction's own run-log lines: inserted from position 0 on, ahead of lines already there.
class ExtractionLog {
public:
    explicit ExtractionLog(LogView& view) : view_(view) {}
    void Add(const std::string& text) {
        view_.InsertLogLine(lines_++, text);
        view_.SelectLastLogLine();
    }
    int ReadFail(uint64_t position) {
        Add(Format("Read Fail 0x%llx", static_cast<unsigned long long>(position)));
        return kErrorReadFault;
    }
    // `unfinished`: the file being written, or empty between files.
    int Cancelled(const std::filesystem::path& unfinished) {
        Add(unfinished.empty()
                ? std::string("Extraction cancelled; partition.txt is not written")
                : Format("Extraction cancelled; %s is not kept and partition.txt is not written",
                         unfinished.string().c_str()));
        return kErrorOperationAborted;
    }
    int WriteFail(const std::filesystem::path& path, const std::string& reason) {
        Add(Format("Write Fail %s (%s)", path.string().c_str(), reason.c_str()));
        return kErrorWriteFault;
    }

private:
    LogView& view_;
    int lines_ = 0;
};

std::filesystem::path ImagePath(const std::filesystem::path& dir, const ImageRecord& record) {
    return dir / (Latin1ToUtf8(record.Name()) + kImageSuffix);
}

int CopyRecordData(ImageStream& stream, const ImageRecord& record, OutputFile& out,
                   ExtractionLog& log) {
    const int result = stream.CopyTo(out, record.Length());
    if (result == kCopyReadFail) {
        return log.ReadFail(stream.position());
    }
    if (result == kCopyCancelled) {
        return log.Cancelled(out.path());
    }
    return result == 0 ? kErrorSuccess : log.WriteFail(out.path(), out.errorText());
}

// Writes the records' data into their files; pieces of one partition go into one file with
// the device sectors between them filled with zeros.
int CopyRecords(ImageStream& stream, const std::vector<ImageRecord>& records,
                const std::filesystem::path& dir, ExtractionLog& log) {
    OutputFile out;  // an unfinished file is removed when this returns early
    for (size_t i = 0; i < records.size(); ++i) {
        const ImageRecord& record = records[i];
        if (i == 0 || records[i - 1].Name() != record.Name()) {
            if (out.Create(ImagePath(dir, record)) != 0) {
                return log.WriteFail(ImagePath(dir, record), out.errorText());
            }
        }
        if (const int result = CopyRecordData(stream, record, out, log); result != 0) {
            return result;
        }
        const uint64_t position = stream.position();
        const uint64_t offsetSectors = (position - record.Length() - kDataAreaOffset) / kSectorSize;
        log.Add(Format("%s -- 0x%llx_0x%llx", PrintableName(record.Name()).c_str(),
                       static_cast<unsigned long long>(position),
                       static_cast<unsigned long long>(offsetSectors)));
        const bool lastPiece = i + 1 == records.size() || records[i + 1].Name() != record.Name();
        if (lastPiece) {
            if (out.Commit(/*sync=*/false) != 0) {
                return log.WriteFail(ImagePath(dir, record), out.errorText());
            }
        } else {
            // CheckImageTable has made sure the next piece does not start inside this one.
            const uint64_t gapSectors =
                uint64_t{records[i + 1].startSector} - record.startSector - record.sectorCount;
            // The stdio build writes the zeros out: a full disk fails here too.
            if (out.AppendZeros(gapSectors * kSectorSize) != 0) {
                return log.WriteFail(out.path(), out.errorText());
            }
        }
    }
    return kErrorSuccess;
}

// Refuses, before anything is written, outputs that must not be replaced: an output name that is
// the input file (the same file under any name) would be replaced by a partition, and only a
// regular file (or nothing) is ever replaced: a link, a FIFO, a device or a folder stays.
int RefuseUnfitOutputs(const InputFile& input, const std::vector<ImageRecord>& records,
                       const std::filesystem::path& dir, ExtractionLog& log) {
    std::vector<std::filesystem::path> outputs{dir / kPartitionTxtName};
    for (const ImageRecord& record : records) {
        outputs.push_back(ImagePath(dir, record));
    }
    for (const std::filesystem::path& output : outputs) {
        if (input.SameFileAs(output)) {
            log.Add(Format("ERROR - output file %s is the image itself; nothing written",
                           output.string().c_str()));
            return kErrorWriteFault;
        }
        if (const PathKind kind = KindOfPath(output);
            kind != PathKind::kNone && kind != PathKind::kRegular) {
            log.Add(Format("ERROR - output file %s is %s, not a regular file; nothing written",
                           output.string().c_str(), PathKindText(kind)));
            return kErrorWriteFault;
        }
    }
    return kErrorSuccess;
}

// The output folder is made (with its parents) when it is missing, as a dump's folder is.
int MakeFolder(const std::filesystem::path& dir, ExtractionLog& log) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        log.Add(Format("ERROR - output folder %s cannot be created (%s)", dir.string().c_str(),
                       ec.message().c_str()));
        return kErrorWriteFault;
    }
    if (!std::filesystem::is_directory(dir, ec)) {
        log.Add(Format("ERROR - output folder %s is not a folder", dir.string().c_str()));
        return kErrorWriteFault;
    }
    return kErrorSuccess;
}

// The index of an earlier extraction goes before the first file is written: a folder whose
// extraction fails then holds no index that would describe files it no longer matches.
int RemoveOldIndex(const std::filesystem::path& dir, ExtractionLog& log) {
    const std::filesystem::path index = dir / kPartitionTxtName;
    bool removed = false;
    std::string reason;
    if (RemoveFile(index, &removed, &reason) != 0) {
        return log.WriteFail(index, reason);
    }
    if (removed) {
        log.Add("Old partition.txt removed; it is written again when the extraction completes");
    }
    return kErrorSuccess;
}

std::vector<PartitionTxtRecord> IndexRecords(const std::vector<ImageRecord>& records) {
    std::vector<PartitionTxtRecord> index;
    index.reserve(records.size());
    for (const ImageRecord& record : records) {
        PartitionTxtRecord entry;
        entry.startSector = record.startSector;
        entry.sectorCount = record.sectorCount;
        const std::string_view name = record.Name();
        const std::string fileName = std::string(name) + kImageSuffix;  // fits: checked before
        std::copy(name.begin(), name.end(), entry.label.begin());
        std::copy(fileName.begin(), fileName.end(), entry.fileName.begin());
        index.push_back(entry);
    }
    return index;
}

// Passes the data bytes copied after each piece, and the data area's size, to `progress`.
void ReportProgress(ImageStream& stream, const std::vector<ImageRecord>& records,
                    const ExtractionProgress& progress) {
    if (!progress) {
        return;
    }
    uint64_t total = 0;
    for (const ImageRecord& record : records) {
        total += record.Length();
    }
    stream.onPiece = [&progress, total](uint64_t position) {
        progress(position - kDataAreaOffset, total);
    };
}

}  // namespace

int ExtractTotalImage(const std::filesystem::path& binPath, const std::filesystem::path& dirPath,
                      LogView& view, const std::atomic<bool>* cancel,
                      const ExtractionProgress& progress) {
    ExtractionLog log(view);
    if (dirPath.empty()) {
        log.Add("ERROR - no output folder");
        return kErrorOpenFailed;
    }
    InputFile input;
    if (input.Open(binPath) != 0) {
        // The first read then fails and reports where it stopped.
        log.Add(Format("Filename not found %s", binPath.string().c_str()));
    }
    ImageStream stream(input, cancel);
    std::vector<ImageRecord> records;
    const TableResult table = ReadImageTable(stream, records);
    if (table == TableResult::kTooManyRecords) {
        log.Add("ERROR - MAX number of partition");
        return kErrorGenFailure;
    }
    if (table == TableResult::kReadFail) {
        log.ReadFail(stream.position());
        return input.IsOpen() ? kErrorReadFault : kErrorOpenFailed;
    }
    if (const auto fault = CheckImageTable(records)) {
        log.Add(*fault);
        return kErrorGenFailure;
    }
    if (const int result = MakeFolder(dirPath, log); result != 0) {
        return result;
    }
    if (const int result = RefuseUnfitOutputs(input, records, dirPath, log); result != 0) {
        return result;
    }
    // One extraction at a time in a folder: two would mix their files and index. A folder that
    // cannot even be opened for the lock fails at its first file, with the system's words.
    FolderLock lock;
    if (lock.Acquire(dirPath) == kErrorLockViolation) {
        log.Add(Format("ERROR - another extraction is writing into %s; nothing written",
                       dirPath.string().c_str()));
        return kErrorWriteFault;
    }
    if (const int result = RemoveOldIndex(dirPath, log); result != 0) {
        return result;
    }
    ReportProgress(stream, records, progress);
    if (const int result = CopyRecords(stream, records, dirPath, log); result != 0) {
        return result;
    }
    std::string reason;
    if (WritePartitionTxt(dirPath, IndexRecords(records), &reason) != 0) {
        return log.WriteFail(dirPath / kPartitionTxtName, reason);
    }
    // A cancel that came after the last piece, or while the index was written, still leaves the
    // folder without an index.
    if (cancel != nullptr && cancel->load() && RemoveFile(dirPath / kPartitionTxtName) == 0) {
        return log.Cancelled({});
    }
    input.Close();
    view.ShowMessage("completed.  ");
    return kErrorSuccess;
}

}  // namespace veltrix
