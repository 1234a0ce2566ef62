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

constexpr size_t kReadDataOffset = 5;  // code byte and address before the data of a READ reply
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
    const std::string& errorText() const { return file_.errorText(); }

private:
    int Flush() {
        const int code = file_.Write(buffer_.data(), buffer_.size());
        if (code == kErrorSuccess) {
            buffer_.clear();
        }
        return code;
    }
    OutputFile file_;  // an unfinished file is discarded with it
    std::vector<uint8_t> buffer_;
};

struct PartitionSpan {
    uint32_t start;
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

// A READ that failed: the board's failure ("%s partition 0x%x read FAIL !!"); a port that went
// away under the read ("port lost": the board dropped off the bus, which says nothing about its
// eMMC); or the operator's cancel.
int ReadFailed(RunContext& ctx, const ProgrammerSession& session, std::string_view name,
               uint32_t sector) {
    if (ctx.Cancelled()) {
        return kErrorOperationAborted;
    }
    const SerialLink& link = *session.link;
    if (link.lastFailure == kErrorDeviceNotConnected) {
        ctx.Log(Format("Serial port lost: %s\n", PortFailureText(link).c_str()));
        ctx.NoteFaultOffBoard("port lost",
                              "the board dropped off the bus during the read: check the cable and "
                              "the board's power, then start again");
        return kErrorDeviceNotConnected;
    }
    return LogReadFailure(ctx, name, sector);
}

// The dump folder of the model folder is made when it is missing: its absence is a matter of
// the PC, not of the board.
void MakeDumpFolder(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::create_directory(path.parent_path(), ec);
}

// A dump that did not complete leaves no file of its name: an older dump (another board's,
// perhaps) must never pass for this board's. Only a regular file is removed.
void RemoveOlderDump(const std::filesystem::path& path) {
    if (KindOfPath(path) == PathKind::kRegular) {
        RemoveFile(path);
    }
}

int WriteDump(RunContext& ctx, ProgrammerSession& session, PartitionSpan span,
              std::string_view name, const std::filesystem::path& path);

int DumpPartition(RunContext& ctx, ProgrammerSession& session, PartitionSpan span,
                  std::string_view name, const std::filesystem::path& path) {
    // Dumps go into the model folder itself, as the extraction's and the record's outputs go
    // only where they are asked: a link would put them, and the removal of an older dump,
    // elsewhere.
    if (const std::filesystem::path folder = path.parent_path();
        KindOfPath(folder) == PathKind::kLink) {
        return DumpFailed(ctx, path, "create",
                          "the dump folder " + folder.string() + " is a symbolic link");
    }
    MakeDumpFolder(path);
    const int result = WriteDump(ctx, session, span, name, path);
    if (result != kErrorSuccess) {
        RemoveOlderDump(path);
    }
    return result;
}

int WriteDump(RunContext& ctx, ProgrammerSession& session, PartitionSpan span,
              std::string_view name, const std::filesystem::path& path) {
    DumpFile dump;
    if (dump.Create(path) != kErrorSuccess) {
        return DumpFailed(ctx, path, "create", dump.errorText());
    }
    Progress progress(ctx, span.bytes);
    std::array<uint8_t, kReadReplyCapacity> reply;
    uint64_t remaining = span.bytes;
    uint32_t sector = span.start;
    while (remaining > 0) {
        if (ctx.Cancelled()) {
            return kErrorOperationAborted;
        }
        if (ReadData(kSectorBytes, reply.data(), session, sector) != kErrorSuccess) {
            return ReadFailed(ctx, session, name, sector);
        }
        if (dump.Append(reply.data() + kReadDataOffset, kSectorBytes) != kErrorSuccess) {
            return DumpFailed(ctx, path, "write", dump.errorText());
        }
        ++sector;
        remaining -= kSectorBytes;
        if (remaining > 0) {
            progress.Update(remaining);
        }
    }
    if (dump.Finish() != kErrorSuccess) {
        return DumpFailed(ctx, path, "write", dump.errorText());
    }
    ctx.record().dumpFiles.push_back(path);
    return kErrorSuccess;
}

int CheckPartition(RunContext& ctx, ProgrammerSession& session, PartitionSpan span,
                   std::string_view name) {
    Progress progress(ctx, span.bytes);
    uint64_t remaining = span.bytes;
    uint32_t sector = span.start;
    while (remaining > 0) {
        if (ctx.Cancelled()) {
            return kErrorOperationAborted;
        }
        const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(remaining, kReadCheckBytes));
        if (ReadCheck(chunk, sector, session) != kErrorSuccess) {
            return ReadFailed(ctx, session, name, sector);
        }
        sector += chunk / kSectorBytes;
        remaining -= chunk;
        if (remaining > 0) {
            progress.Update(remaining);
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

std::optional<std::filesystem::path> DumpFilePath(const std::filesystem::path& modelFolder,
                                                  std::string_view label) {
    if (!IsSafeFileName(label)) {
        return std::nullopt;
    }
    return modelFolder / kDumpFolderName / PathFromUtf8(Latin1ToUtf8(label) + kDumpFileSuffix);
}

int ReadPartition(RunContext& ctx, ProgrammerSession& session, const PartitionToRead& read) {
    const uint32_t startSector = read.startSector;
    const uint32_t sectorCount = read.sectorCount;
    const std::string_view label = read.label;
    const std::string name = PrintableName(label);
    ctx.Status(Format("Reading %s partition..", name.c_str()));
    if (sectorCount == 0) {
        ctx.Log(Format("%s partition has no sectors, read skipped\n", name.c_str()));
        return kErrorSuccess;
    }
    if (uint64_t{startSector} + sectorCount > kSectorLimit) {
        ctx.Log(Format("%s partition runs past sector 0xffffffff\n", name.c_str()));
        return LogReadFailure(ctx, name, startSector);
    }
    const PartitionSpan span{startSector, uint64_t{sectorCount} * kSectorBytes};
    int result = kErrorSuccess;
    if (read.modelFolder != nullptr) {
        const auto path = DumpFilePath(*read.modelFolder, label);
        if (!path) {
            ctx.Log(Format("%s is not a file name for a dump file\n", name.c_str()));
            return LogReadFailure(ctx, name, startSector);
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
