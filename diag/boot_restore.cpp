#include "diag/boot_restore.h"

#include "base/text_format.h"
#include "diag/model_table.h"
#include "diag/partition_read.h"
#include "diag/run_context.h"
#include "diag/run_files.h"
#include "layout/fixed_text.h"
#include "layout/partition_index.h"

namespace veltrix {
namespace {

int WriteLabel(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
               const std::string& label) {
    const ImagePartition* entry = files.Find(label);
    if (entry == nullptr) {
        // A label that partition.txt does not have: the target directory holds another image's
        // files.
        ctx.Log(Format("%s partition is not in partition.txt\n", PrintableLabel(label).c_str()));
        return kErrorInvalidHandle;
    }
    return WriteBootPartition(ctx, session, files, *entry);
}

}  // namespace

int WriteBootPartition(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                       const ImagePartition& entry) {
    const std::string name = PrintableName(LabelText(entry));
    const std::string fileName = PrintableName(FileNameText(entry));
    const auto writeFailed = [&] {
        ctx.Log(Format("%s partition write FAIL.. sector 0x%x\n", name.c_str(), entry.startSector));
        return kErrorInvalidHandle;
    };
    // Only a plain file of the target directory is ever sent to the flash.
    const auto path = ImageFilePath(files.targetDir, entry);
    if (!path) {
        ctx.Log(Format("%s is not a file name in the target directory\n", fileName.c_str()));
        return writeFailed();
    }
    // The image must fit its partition (all of its pieces): a longer file would overwrite the
    // partition after it.
    const uint64_t room =
        PartitionSpanSectors(files.index, Latin1ToUtf8(LabelText(entry))) * kSectorBytes;
    StreamFileFacts facts;
    int shown = -1;
    const auto progress = [&ctx, &shown](uint64_t sent, uint64_t total) {
        const int percent = total == 0 ? 100 : static_cast<int>(sent * 100 / total);
        if (percent != shown) {  // the bar moves when its percentage does
            ctx.Transfer(sent, total);
            ctx.Progress(percent);
            shown = percent;
        }
    };
    const int result = StreamWriteFile(*path, session, entry.startSector, room, &facts, progress);
    if (result == kErrorSuccess) {
        const std::string done = Format("%s partition write done..", name.c_str());
        ctx.Log(done + "\n");
        ctx.Status(done);
        return kErrorSuccess;
    }
    if (ctx.Cancelled()) {
        return kErrorOperationAborted;
    }
    if (const std::string reason = ImageRefusal(result, fileName, facts, name, room);
        !reason.empty()) {
        ctx.Log(reason);
    }
    return writeFailed();
}

std::string ImageRefusal(int result, const std::string& file, const StreamFileFacts& facts,
                         const std::string& partition, uint64_t roomBytes) {
    switch (result) {
        case kErrorFileNotFound:
            return Format("Filename not found. Please check if %s exist\n", file.c_str());
        case kErrorNotRegularFile:
            return Format("%s is %s, not a regular file; nothing written\n", file.c_str(),
                          PathKindText(facts.kind));
        case kErrorFileTooLarge:
            return Format(
                "%s is %llu bytes, larger than the %s partition (%llu bytes); nothing "
                "written past it\n",
                file.c_str(), static_cast<unsigned long long>(facts.size), partition.c_str(),
                static_cast<unsigned long long>(roomBytes));
        default:
            return {};
    }
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
