#include "diag/boot_restore.h"

#include <vector>

#include "base/text_format.h"
#include "diag/model_table.h"
#include "diag/partition_read.h"
#include "diag/run_context.h"
#include "diag/run_files.h"
#include "layout/fixed_text.h"
#include "layout/partition_index.h"

namespace veltrix {
namespace {

std::vector<WritePiece> WritePieces(const PartitionRoom& room) {
    std::vector<WritePiece> pieces;
    for (const PartitionPiece& piece : room.pieces) {
        pieces.push_back(
            {piece.fileOffset, piece.startSector, uint64_t{piece.sectorCount} * kSectorBytes});
    }
    return pieces;
}

// A partition.txt whose entries share sectors cannot say where the image goes.
void RefuseOverlap(RunContext& ctx, const PartitionRoom& room) {
    const std::string name = PrintableName(LabelText(*room.entry));
    const std::string other = PrintableName(LabelText(*room.overlap));
    if (LabelText(*room.overlap) == LabelText(*room.entry)) {
        ctx.Log(
            Format("The pieces of %s overlap in partition.txt; nothing written\n", name.c_str()));
        ctx.NoteFailure(Format("the pieces of %s overlap in partition.txt", name.c_str()));
        return;
    }
    ctx.Log(Format("%s shares sectors with %s in partition.txt; nothing written\n", name.c_str(),
                   other.c_str()));
    ctx.NoteFailure(Format("%s overlaps %s in partition.txt", name.c_str(), other.c_str()));
}

// The line and the run's reason for a file refused before anything was sent; false for any other
// result.
bool ReportRefusedFile(RunContext& ctx, int result, const std::string& file,
                       const StreamFileFacts& facts, const std::string& partition,
                       uint64_t roomBytes) {
    switch (result) {
        case kErrorFileNotFound:
            ctx.Log(Format("Filename not found. Please check if %s exist\n", file.c_str()));
            ctx.NoteFailure(file + " not found");
            return true;
        case kErrorNotRegularFile:
            ctx.Log(Format("%s is %s, not a regular file; nothing written\n", file.c_str(),
                           PathKindText(facts.kind)));
            ctx.NoteFailure(file + " is not a regular file");
            return true;
        case kErrorFileTooLarge:
            if (facts.size <= roomBytes) {
                return false;  // it grew while it was written
            }
            ctx.Log(
                Format("%s is %llu bytes, larger than the %s partition (%llu bytes); nothing "
                       "written past it\n",
                       file.c_str(), static_cast<unsigned long long>(facts.size), partition.c_str(),
                       static_cast<unsigned long long>(roomBytes)));
            ctx.NoteFailure(file + " is larger than its partition");
            return true;
        default:
            return false;
    }
}

// The image of the partition `room` describes, from the target directory, with its lines.
int WritePartition(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                   const PartitionRoom& room) {
    const ImagePartition& entry = *room.entry;
    const std::string name = PrintableName(LabelText(entry));
    const std::string fileName = PrintableName(FileNameText(entry));
    const auto writeFailed = [&](int code) {
        ctx.Log(Format("%s partition write FAIL.. sector 0x%x\n", name.c_str(), entry.startSector));
        return code;
    };
    // Only a plain file of the target directory is ever sent to the flash.
    const auto path = ImageFilePath(files.targetDir, entry);
    if (!path) {
        ctx.Log(Format("%s is not a file name in the target directory\n", fileName.c_str()));
        ctx.NoteFailure(fileName + " is not a file name in the target directory");
        return writeFailed(kErrorOpenFailed);
    }
    bool sent = false;
    const int result = WriteImageIntoPartition(ctx, session, *path, fileName, room, &sent);
    if (result == kErrorSuccess) {
        const std::string done = Format("%s partition write done..", name.c_str());
        ctx.Log(done + "\n");
        ctx.Status(done);
        return kErrorSuccess;
    }
    if (sent) {
        // Part of the image may be on the board: the partition holds neither image whole.
        ctx.record().NoteToRestore(name);
    }
    if (result == kErrorOperationAborted) {
        return result;
    }
    writeFailed(kErrorInvalidHandle);
    if (sent) {
        ctx.Log(
            Format("%s is partly written: run RESTORE BOOT IMG for it before the board "
                   "leaves the bench\n",
                   name.c_str()));
    }
    // Nothing reached the board, and the board did not refuse it: the PC's files are to blame.
    return sent || result == kErrorWriteFault ? kErrorInvalidHandle : kErrorOpenFailed;
}

int WriteLabel(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
               const std::string& label) {
    const PartitionRoom room = FindPartitionRoom(files.index, label);
    if (room.entry == nullptr) {
        // A label that partition.txt does not have: the target directory holds another image's
        // files.
        const std::string name = PrintableLabel(label);
        ctx.Log(Format("%s partition is not in partition.txt\n", name.c_str()));
        ctx.NoteFailure(name + " is not in partition.txt");
        return kErrorOpenFailed;
    }
    return WritePartition(ctx, session, files, room);
}

}  // namespace

int WriteImageIntoPartition(RunContext& ctx, ProgrammerSession& session,
                            const std::filesystem::path& path, const std::string& shownFile,
                            const PartitionRoom& room, bool* sent) {
    *sent = false;
    if (room.overlap != nullptr) {
        RefuseOverlap(ctx, room);
        return kErrorInvalidData;
    }
    int shown = -1;
    const auto progress = [&ctx, &shown](uint64_t done, uint64_t total) {
        const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
        if (percent != shown) {  // the bar moves when its percentage does
            ctx.Transfer(done, total);
            ctx.Progress(percent);
            shown = percent;
        }
    };
    const std::vector<WritePiece> pieces = WritePieces(room);
    StreamFileFacts facts;
    const int result =
        StreamWriteFilePieces(path, session, pieces, room.roomBytes, &facts, progress);
    // A block the board took, or one it never answered (a cancel or a lost port in its middle),
    // may have changed the partition.
    *sent = facts.acceptedBytes > 0 || facts.unanswered;
    if (result == kErrorSuccess) {
        return kErrorSuccess;
    }
    const std::string name = PrintableName(LabelText(*room.entry));
    const std::string& file = shownFile;
    const bool cancelled = ctx.Cancelled();
    if (!cancelled && ReportRefusedFile(ctx, result, file, facts, name, room.roomBytes)) {
        return result;
    }
    if (cancelled) {
        return kErrorOperationAborted;
    }
    ctx.NoteFailure(result == kErrorReadFault ? file + " could not be read while it was written"
                    : result == kErrorFileTooLarge ? file + " grew while it was written"
                                                   : "the board did not take the write of " + name);
    return result;
}

int WriteBootImages(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                    const std::string& label) {
    if (!label.empty()) {
        return WriteLabel(ctx, session, files, label);
    }
    const ProgramList& list = files.programList;
    for (int i = 0; i < list.count; ++i) {
        if (ctx.Cancelled()) {
            return kErrorOperationAborted;
        }
        const ProgramEntry* entry = list.At(i);
        if (entry == nullptr) {
            continue;
        }
        if (const int result = WriteLabel(ctx, session, files, entry->label);
            result != kErrorSuccess) {
            return result;
        }
    }
    return kErrorSuccess;
}

}  // namespace veltrix
