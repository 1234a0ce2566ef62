#include "diag/boot_restore.h"

#include "base/text_format.h"
#include "diag/model_table.h"
#include "diag/partition_read.h"
#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "diag/workbench.h"
#include "layout/fixed_text.h"
#include "layout/partition_index.h"
#include "protocol/streaming.h"

namespace veltrix {
namespace {

// A label that partition.txt does not have: the target directory holds another image's files.
int ReportMissingLabel(Workbench& bench, const std::string& label) {
    AppendLog(bench, Format("%s partition is not in partition.txt\n", label.c_str()));
    return kErrorInvalidHandle;
}

int WriteLabel(Workbench& bench, const std::string& label) {
    const int slot = FindImagePartition(bench.index, label);
    const ImagePartition* entry =
        slot < kPartitionIndexCapacity ? bench.index.imagePartitions[slot].get() : nullptr;
    if (entry == nullptr) {
        return ReportMissingLabel(bench, label);
    }
    return WriteBootPartition(bench, *entry);
}

}  // namespace

int WriteBootPartition(Workbench& bench, const ImagePartition& entry) {
    const std::string name = PrintableName(LabelText(entry));
    const std::string fileName = PrintableName(FileNameText(entry));
    const auto writeFailed = [&] {
        AppendLog(bench, Format("%s partition write FAIL.. sector 0x%x\n", name.c_str(),
                                entry.startSector));
        return kErrorInvalidHandle;
    };
    // Only a plain file of the target directory is ever sent to the flash.
    const auto path = ImageFilePath(PathFromUtf8(bench.state.targetDir), entry);
    if (!path) {
        AppendLog(bench,
                  Format("%s is not a file name in the target directory\n", fileName.c_str()));
        return writeFailed();
    }
    // The image must fit its partition (all of its pieces): a longer file would overwrite the
    // partition after it.
    const uint64_t room =
        PartitionSpanSectors(bench.index, Latin1ToUtf8(LabelText(entry))) * kSectorBytes;
    StreamFileFacts facts;
    const int result = StreamWriteFile(*path, bench.state.session, entry.startSector, room, &facts);
    if (result == kErrorSuccess) {
        const std::string done = Format("%s partition write done..", name.c_str());
        AppendLog(bench, done + "\n");
        bench.view.PushStatus(done);
        return kErrorSuccess;
    }
    if (RunCancelled(bench)) {
        return kErrorOperationAborted;
    }
    if (const std::string reason = ImageRefusal(result, fileName, facts, name, room);
        !reason.empty()) {
        AppendLog(bench, reason);
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

int WriteBootImages(Workbench& bench, const std::string& label) {
    if (!label.empty()) {
        return WriteLabel(bench, label);
    }
    const ProgramList& list = bench.state.programList;
    for (int i = 0; i < list.count; ++i) {
        if (RunCancelled(bench)) {
            return kErrorOperationAborted;
        }
        const ProgramEntry* entry = list.At(i);
        if (entry == nullptr) {
            continue;
        }
        if (const int result = WriteLabel(bench, entry->label); result != kErrorSuccess) {
            return result;
        }
    }
    return kErrorSuccess;
}

}  // namespace veltrix
