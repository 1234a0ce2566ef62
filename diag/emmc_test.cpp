#include "diag/emmc_test.h"

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "base/text_format.h"
#include "diag/board_tests.h"
#include "diag/partition_read.h"
#include "diag/run_context.h"
#include "diag/run_files.h"
#include "layout/fixed_text.h"
#include "protocol/streaming.h"

namespace veltrix {
namespace {

constexpr size_t kReadDataOffset = 5;
constexpr const char* kNotInIndexLine = "Please select the valid target directory!\n";

// The eMMC test's place: the context, the session, the files and the choice.
struct EmmcRun {
    RunContext& ctx;
    ProgrammerSession& session;
    const RunFiles& files;
    const EmmcChoice& choice;
};

int EraseWholeFlash(RunContext& ctx, ProgrammerSession& session) {
    if (EraseFlash(session) == kErrorSuccess) {
        ctx.Log("Flash erased!\n");
        return kErrorSuccess;
    }
    if (ctx.Cancelled()) {
        return kErrorOperationAborted;
    }
    ctx.Log("Flash erase FAIL. Please retry.\n");
    return kErrorInvalidHandle;
}

// Reads one sector back and compares it with its half of the pattern.
int VerifySector(RunContext& ctx, ProgrammerSession& session, const std::string& name,
                 uint32_t sector, std::span<const uint8_t> expected) {
    std::array<uint8_t, kReadReplyCapacity> reply{};
    if (ReadData(kSectorBytes, reply.data(), session, sector) != kErrorSuccess) {
        const int code = ctx.FailureOrCancel(kErrorInvalidHandle);
        return code == kErrorOperationAborted ? code : LogReadFailure(ctx, name, sector);
    }
    if (!std::equal(expected.begin(), expected.end(), reply.begin() + kReadDataOffset)) {
        ctx.Log(Format("%s partition 0x%x verify FAIL !!\n", name.c_str(), sector));
        return kErrorInvalidHandle;
    }
    return kErrorSuccess;
}

// Read, then write and verify, as the option asks, for one label of the choice or the list. A
// partition split in pieces is read piece by piece.
int TestPartition(const EmmcRun& run, std::string_view label) {
    const PartitionRoom room = FindPartitionRoom(run.files.index, label);
    const ImagePartition* entry = room.entry;
    if (entry == nullptr) {
        run.ctx.Log(kNotInIndexLine);
        return kErrorInvalidHandle;
    }
    if (room.overlap != nullptr && LabelText(*room.overlap) == LabelText(*entry)) {
        // Pieces that go back over each other cannot be laid out as one image.
        run.ctx.Log(Format("The pieces of %s overlap in partition.txt; not read\n",
                           PrintableName(LabelText(*entry)).c_str()));
        return kErrorInvalidHandle;
    }
    const int option = run.choice.option;
    if (option != kEmmcWriteOnly) {
        const PartitionToRead read{entry->startSector, entry->sectorCount, LabelText(*entry),
                                   run.choice.dump ? &run.files.dumpFolder : nullptr, room.pieces};
        if (const int result = ReadPartition(run.ctx, run.session, read); result != 0) {
            return result;
        }
    }
    if (option == kEmmcReadWrite || option == kEmmcWriteOnly) {
        return WriteVerifyPartition(run.ctx, run.session, *entry, run.choice.totalSectors);
    }
    return kErrorSuccess;
}

}  // namespace

int RunEmmcTest(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                const EmmcChoice& choice) {
    if (choice.option == kEmmcErase) {
        return EraseWholeFlash(ctx, session);
    }
    const EmmcRun run{ctx, session, files, choice};
    if (!choice.partition.empty()) {
        return TestPartition(run, choice.partition);
    }
    for (int i = 0; i < files.programList.count; ++i) {
        if (ctx.Cancelled()) {
            return kErrorOperationAborted;
        }
        const ProgramEntry* entry = files.programList.At(i);
        if (entry == nullptr) {
            continue;
        }
        if (const int result = TestPartition(run, entry->label); result != kErrorSuccess) {
            return result;
        }
    }
    return kErrorSuccess;
}

int WriteVerifyPartition(RunContext& ctx, ProgrammerSession& session, const ImagePartition& entry,
                         int64_t totalSectors) {
    const std::string name = PrintableName(LabelText(entry));
    if (entry.sectorCount == 0) {
        ctx.Log(Format("%s partition has no sectors, write skipped\n", name.c_str()));
        return kErrorSuccess;
    }
    const uint32_t start = entry.startSector;
    // The second sector is written only when it belongs to the partition and to the device, so
    // that the pattern never lands in the next partition or past the end of the flash.
    const auto deviceSectors = static_cast<uint32_t>(static_cast<uint64_t>(totalSectors));
    const bool two = entry.sectorCount >= 2 && uint64_t{start} + 1 < deviceSectors;
    const std::span<const uint8_t> pattern(emmcTestPattern);
    // The pattern stays where it is written (the restore puts the images back): the run says so
    // at its end, whatever follows.
    std::vector<std::string>& patterned = ctx.record().patternLeftIn;
    if (std::find(patterned.begin(), patterned.end(), name) == patterned.end()) {
        patterned.push_back(name);
    }
    const int written =
        two ? StreamWriteBlock(static_cast<int>(pattern.size()), start, session, pattern.data())
            : StreamWriteData(start, session, pattern.first(kSectorBytes));
    if (written != kErrorSuccess) {
        if (ctx.Cancelled()) {
            return kErrorOperationAborted;
        }
        ctx.Log(Format("%s partition write FAIL.. sector 0x%x\n", name.c_str(), start));
        return kErrorInvalidHandle;
    }
    int result = VerifySector(ctx, session, name, start, pattern.first(kSectorBytes));
    if (result == kErrorSuccess && two) {
        result = VerifySector(ctx, session, name, start + 1, pattern.subspan(kSectorBytes));
    }
    if (result != kErrorSuccess) {
        return result;
    }
    const std::string done = Format("%s partition write & verify done..", name.c_str());
    ctx.Log(done + "\n");
    ctx.Status(done);
    return kErrorSuccess;
}

}  // namespace veltrix
