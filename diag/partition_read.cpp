#include "diag/partition_read.h"

#include <algorithm>
#include <array>
#include <vector>

#include "base/file_io.h"
#include "base/text_format.h"
#include "diag/model_table.h"
#include "diag/run_context.h"
#include "layout/fixed_text.h"
#include "link/serial_link.h"
#include "protocol/streaming.h"

namespace veltrix {
namespace {

constexpr uint64_t kSectorLimit = uint64_t{1} << 32;  // READ addresses are 32-bit sector numbers
// The dump file takes its data in pieces of this size rather than one system call per sector.
constexpr size_t kDumpBufferBytes = 256 * 1024;

// The progress bar: the percentage of the partition read, sent only when it changes (a front
// end may take each call as a blocking update).
class Progress {
public:
    Progress(RunContext& ctx, uint64_t total) : ctx_(ctx), total_(total) {}
    void Update(uint64_t remaining) {
        const double done = static_cast<double>(total_ - remaining) / static_cast<double>(total_);
        const int percent = static_cast<int>(done * 100.0);
        if (percent != shown_) {
            ctx_.Transfer(total_ - remaining, total_);
            ctx_.Progress(percent);
            shown_ = percent;
        }
    }

private:
    RunContext& ctx_;
    uint64_t total_;
    int shown_ = -1;
};

// A dump file filled sector by sector through a buffer; only Finish puts it in place.
class DumpFile {
public:
    DumpFile() { buffer_.reserve(kDumpBufferBytes); }
    int Create(const std::filesystem::path& path) { return file_.Create(path); }
    int Append(const uint8_t* bytes, size_t count) {
        buffer_.insert(buffer_.end(), bytes, bytes + count);
        return buffer_.size() >= kDumpBufferBytes ? Flush() : kErrorSuccess;
    }
    int Finish() {
        const int code = Flush();
        return code != kErrorSuccess ? code : file_.Commit(true);
    }
    // Bytes that reached the file so far, and those taken in all.
    uint64_t written() const { return written_; }
    uint64_t length() const { return written_ + buffer_.size(); }
    const std::string& errorText() const { return file_.errorText(); }

private:
    int Flush() {
        const int code = file_.Write(buffer_.data(), buffer_.size());
        if (code == kErrorSuccess) {
            written_ += buffer_.size();
            buffer_.clear();
        }
        return code;
    }
    OutputFile file_;  // an unfinished file is discarded with it
    std::vector<uint8_t> buffer_;
    uint64_t written_ = 0;
};

// What is read: the partition's pieces (one for most), and the length of its image, gaps
// between pieces included.
struct PartitionSpan {
    std::vector<PartitionPiece> pieces;
    uint64_t bytes;
};

// A dump that cannot be made is the PC's fault (a full disk, a read-only or linked folder, a
// file-size limit, no descriptors left), never the board's: the line says why, and the run ends
// as aborted naming it, the EMMC box left "N/T".
int DumpFailed(RunContext& ctx, const std::filesystem::path& path, const char* what,
               const std::string& reason) {
    ctx.Log(Format("Cannot %s dump file %s (%s)\n", what, path.string().c_str(), reason.c_str()));
    ctx.NoteFaultOffBoard(Format("cannot %s the dump: %s", what, reason.c_str()),
                          "the board was not judged: mend the PC's side (space on the disk, a "
                          "writable dump folder " +
                              path.parent_path().string() + "), then dump again");
    return kErrorWriteFault;
}

// A read that failed with `code`: the board's failure ("%s partition 0x%x read FAIL !!"); a port
// that went away under the read ("port lost": the board dropped off the bus, which says nothing
// about its eMMC); or the operator's cancel.
int ReadFailed(RunContext& ctx, const ProgrammerSession& session, std::string_view name,
               uint32_t sector, int code) {
    if (ctx.Cancelled()) {
        return kErrorOperationAborted;
    }
    const SerialLink& link = *session.link;
    if (code == kErrorDeviceNotConnected || link.lastFailure() == kErrorDeviceNotConnected) {
        ctx.Log(Format("Serial port lost: %s\n", link.FailureText().c_str()));
        ctx.NoteFaultOffBoard("port lost",
                              "the board dropped off the bus during the read: check the cable and "
                              "the board's power, then start again");
        return kErrorDeviceNotConnected;
    }
    return LogReadFailure(ctx, name, sector);
}

// The dump folder (and a station's folder of the board under it) is made when it is missing:
// its absence is a matter of the PC, not of the board.
void MakeDumpFolder(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
}

// A dump that did not complete leaves no file of its name: an older dump (another board's,
// perhaps) must never pass for this board's. Only a regular file is removed.
void RemoveOlderDump(const std::filesystem::path& path) {
    if (KindOfPath(path) == PathKind::kRegular) {
        RemoveFile(path);
    }
}

// The sectors between two pieces of a split partition belong to others: the dump holds zeros
// there, as the extraction's image of the partition does.
int AppendGap(DumpFile& dump, uint64_t bytes) {
    const std::vector<uint8_t> zeros(kSectorBytes, 0);
    for (; bytes > 0; bytes -= kSectorBytes) {
        if (const int code = dump.Append(zeros.data(), kSectorBytes); code != kErrorSuccess) {
            return code;
        }
    }
    return kErrorSuccess;
}

int WriteDump(RunContext& ctx, ProgrammerSession& session, const PartitionSpan& span,
              std::string_view name, const std::filesystem::path& path) {
    DumpFile dump;
    if (dump.Create(path) != kErrorSuccess) {
        return DumpFailed(ctx, path, "create", dump.errorText());
    }
    Progress progress(ctx, span.bytes);
    const auto writeFailed = [&] { return DumpFailed(ctx, path, "write", dump.errorText()); };
    for (const PartitionPiece& piece : span.pieces) {
        const uint64_t gap =
            piece.fileOffset > dump.length() ? piece.fileOffset - dump.length() : 0;
        if (AppendGap(dump, gap) != kErrorSuccess) {
            return writeFailed();
        }
        bool fileFailed = false;
        // Each sector, in order, into the file; the bar follows. The run's cancel stops the
        // link's waits, and with them the transfer.
        const SectorSink sink = [&](uint32_t, const uint8_t* data) {
            if (dump.Append(data, kSectorBytes) != kErrorSuccess) {
                fileFailed = true;
                return kErrorWriteFault;
            }
            if (dump.length() < span.bytes) {
                progress.Update(span.bytes - dump.length());
            }
            return kErrorSuccess;
        };
        uint32_t failed = piece.startSector;
        if (const int code =
                ReadSectors(session, piece.startSector, piece.sectorCount, sink, &failed);
            code != kErrorSuccess) {
            return fileFailed ? writeFailed() : ReadFailed(ctx, session, name, failed, code);
        }
    }
    if (dump.Finish() != kErrorSuccess) {
        return writeFailed();
    }
    ctx.record().dumpFiles.push_back(path);
    return kErrorSuccess;
}

int DumpPartition(RunContext& ctx, ProgrammerSession& session, const PartitionSpan& span,
                  std::string_view name, const std::filesystem::path& path) {
    // Dumps go into the dump folder itself, as the extraction's and the record's outputs go
    // only where they are asked: a link would put them, and the removal of an older dump,
    // elsewhere.
    // (A station's folder of the board lies inside the dump folder: both are looked at.)
    for (std::filesystem::path folder = path.parent_path();; folder = folder.parent_path()) {
        if (KindOfPath(folder) == PathKind::kLink) {
            return DumpFailed(ctx, path, "create",
                              "the dump folder " + folder.string() + " is a symbolic link");
        }
        if (folder.filename() == kDumpFolderName || !folder.has_relative_path()) {
            break;
        }
    }
    MakeDumpFolder(path);
    const int result = WriteDump(ctx, session, span, name, path);
    if (result != kErrorSuccess) {
        RemoveOlderDump(path);
    }
    return result;
}

// READ CHECK over each piece, in ranges of 5 MiB.
int CheckPartition(RunContext& ctx, ProgrammerSession& session, const PartitionSpan& span,
                   std::string_view name) {
    Progress progress(ctx, span.bytes);
    for (const PartitionPiece& piece : span.pieces) {
        uint64_t remaining = uint64_t{piece.sectorCount} * kSectorBytes;
        uint32_t sector = piece.startSector;
        while (remaining > 0) {
            if (ctx.Cancelled()) {
                return kErrorOperationAborted;
            }
            const auto chunk =
                static_cast<uint32_t>(std::min<uint64_t>(remaining, kReadCheckBytes));
            if (ReadCheck(chunk, sector, session) != kErrorSuccess) {
                return ReadFailed(ctx, session, name, sector, kErrorInvalidHandle);
            }
            sector += chunk / kSectorBytes;
            remaining -= chunk;
            const uint64_t done =
                piece.fileOffset + uint64_t{sector - piece.startSector} * kSectorBytes;
            if (done < span.bytes) {
                progress.Update(span.bytes - done);
            }
        }
    }
    return kErrorSuccess;
}

}  // namespace

int LogReadFailure(RunContext& ctx, std::string_view name, uint32_t sector) {
    ctx.Log(Format("%.*s partition 0x%x read FAIL !!\n", static_cast<int>(name.size()), name.data(),
                   sector));
    return kErrorInvalidHandle;
}

std::optional<std::filesystem::path> DumpFilePath(const std::filesystem::path& dumpFolder,
                                                  std::string_view label) {
    if (!IsSafeFileName(label)) {
        return std::nullopt;
    }
    return dumpFolder / PathFromUtf8(Latin1ToUtf8(label) + kDumpFileSuffix);
}

int ReadPartition(RunContext& ctx, ProgrammerSession& session, const PartitionToRead& read) {
    const std::string_view label = read.label;
    const std::string name = PrintableName(label);
    ctx.Status(Format("Reading %s partition..", name.c_str()));
    PartitionSpan span;
    span.pieces.assign(read.pieces.begin(), read.pieces.end());
    if (span.pieces.empty()) {
        span.pieces.push_back({read.startSector, read.sectorCount, 0});
    }
    const PartitionPiece& last = span.pieces.back();
    span.bytes = last.fileOffset + uint64_t{last.sectorCount} * kSectorBytes;
    if (span.bytes == 0) {
        ctx.Log(Format("%s partition has no sectors, read skipped\n", name.c_str()));
        return kErrorSuccess;
    }
    for (const PartitionPiece& piece : span.pieces) {
        if (uint64_t{piece.startSector} + piece.sectorCount > kSectorLimit) {
            ctx.Log(Format("%s partition runs past sector 0xffffffff\n", name.c_str()));
            return LogReadFailure(ctx, name, piece.startSector);
        }
    }
    int result = kErrorSuccess;
    if (read.dumpFolder != nullptr) {
        const auto path = DumpFilePath(*read.dumpFolder, label);
        if (!path) {
            ctx.Log(Format("%s is not a file name for a dump file\n", name.c_str()));
            return LogReadFailure(ctx, name, span.pieces.front().startSector);
        }
        result = DumpPartition(ctx, session, span, name, *path);
    } else {
        result = CheckPartition(ctx, session, span, name);
    }
    if (result != kErrorSuccess) {
        return result;
    }
    const std::string done = Format("%s partition read done..", name.c_str());
    ctx.Log(done + "\n");
    ctx.Status(done);
    ctx.Progress(100);
    return kErrorSuccess;
}

}  // namespace veltrix
