#include "diag/emmc_test.h"

#include <algorithm>
#include <span>

#include "base/text_format.h"
#include "diag/partition_read.h"
#include "diag/run_log.h"
#include "diag/run_state.h"
#include "diag/run_worker.h"
#include "diag/workbench.h"
#include "layout/fixed_text.h"
#include "protocol/streaming.h"

namespace veltrix {
namespace {

constexpr size_t kReadDataOffset = 5;
constexpr const char* kNotInIndexLine = "Please select the valid target directory!\n";

const ImagePartition* FindEntry(const Workbench& bench, std::string_view label) {
    const int slot = FindImagePartition(bench.index, label);
    return slot < kPartitionIndexCapacity ? bench.index.imagePartitions[slot].get() : nullptr;
}

int EraseWholeFlash(Workbench& bench) {
    if (EraseFlash(bench.state.session) == kErrorSuccess) {
        AppendLog(bench, "Flash erased!\n");
        return kErrorSuccess;
    }
    if (RunCancelled(bench)) {
        return kErrorOperationAborted;
    }
    AppendLog(bench, "Flash erase FAIL. Please retry.\n");
    return kErrorInvalidHandle;
}

// Reads one sector back and compares it with its half of the pattern.
int VerifySector(Workbench& bench, const std::string& name, uint32_t sector,
                 std::span<const uint8_t> expected) {
    std::array<uint8_t, kReadReplyCapacity> reply{};
    if (ReadData(kSectorBytes, reply.data(), bench.state.session, sector) != kErrorSuccess) {
        const int code = FailureOrCancel(bench, kErrorInvalidHandle);
        return code == kErrorOperationAborted ? code : LogReadFailure(bench, name, sector);
    }
    if (!std::equal(expected.begin(), expected.end(), reply.begin() + kReadDataOffset)) {
        AppendLog(bench, Format("%s partition 0x%x verify FAIL !!\n", name.c_str(), sector));
        return kErrorInvalidHandle;
    }
    return kErrorSuccess;
}

// Read, then write and verify, as the option asks, for one label of the choice or the list.
int TestPartition(Workbench& bench, int option, std::string_view label) {
    const ImagePartition* entry = FindEntry(bench, label);
    if (entry == nullptr) {
        AppendLog(bench, kNotInIndexLine);
        return kErrorInvalidHandle;
    }
    const std::string_view entryLabel = LabelText(*entry);
    if (option != kEmmcWriteOnly) {
        const int result = ReadPartition(bench, entry->startSector, entry->sectorCount, entryLabel);
        if (result != kErrorSuccess) {
            return result;
        }
    }
    if (option == kEmmcReadWrite || option == kEmmcWriteOnly) {
        return WriteVerifyPartition(bench, Latin1ToUtf8(entryLabel));
    }
    return kErrorSuccess;
}

}  // namespace

int RunEmmcTest(Workbench& bench, int emmcOption) {
    if (emmcOption == kEmmcErase) {
        return EraseWholeFlash(bench);
    }
    const RunState& state = bench.state;
    if (!state.partitionLabel.empty()) {
        return TestPartition(bench, emmcOption, state.partitionLabel);
    }
    for (int i = 0; i < state.programList.count; ++i) {
        if (RunCancelled(bench)) {
            return kErrorOperationAborted;
        }
        const ProgramEntry* entry = state.programList.At(i);
        if (entry == nullptr) {
            continue;
        }
        if (const int result = TestPartition(bench, emmcOption, entry->label);
            result != kErrorSuccess) {
            return result;
        }
    }
    return kErrorSuccess;
}

int WriteVerifyPartition(Workbench& bench, std::string_view label) {
    const ImagePartition* entry = label.empty() ? nullptr : FindEntry(bench, label);
    if (entry == nullptr) {
        return kErrorInvalidHandle;
    }
    const std::string name = PrintableName(LabelText(*entry));
    if (entry->sectorCount == 0) {
        AppendLog(bench, Format("%s partition has no sectors, write skipped\n", name.c_str()));
        return kErrorSuccess;
    }
    const uint32_t start = entry->startSector;
    // The second sector is written only when it belongs to the partition and to the device, so
    // that the pattern never lands in the next partition or past the end of the flash.
    const auto deviceSectors =
        static_cast<uint32_t>(static_cast<uint64_t>(bench.state.totalSectors));
    const bool two = entry->sectorCount >= 2 && uint64_t{start} + 1 < deviceSectors;
    const std::span<const uint8_t> pattern(emmcTestPattern);
    const int written =
        two ? StreamWriteBlock(static_cast<int>(pattern.size()), start, bench.state.session,
                               pattern.data())
            : StreamWriteData(start, bench.state.session, pattern.first(kSectorBytes));
    if (written != kErrorSuccess) {
        if (RunCancelled(bench)) {
            return kErrorOperationAborted;
        }
        AppendLog(bench, Format("%s partition write FAIL.. sector 0x%x\n", name.c_str(), start));
        return kErrorInvalidHandle;
    }
    int result = VerifySector(bench, name, start, pattern.first(kSectorBytes));
    if (result == kErrorSuccess && two) {
        result = VerifySector(bench, name, start + 1, pattern.subspan(kSectorBytes));
    }
    if (result != kErrorSuccess) {
        return result;
    }
    const std::string done = Format("%s partition write & verify done..", name.c_str());
    AppendLog(bench, done + "\n");
    bench.view.PushStatus(done);
    return kErrorSuccess;
}

}  // namespace veltrix
