#include "diag/sdram_test.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text_format.h"
#include "diag/boot_restore.h"
#include "diag/model_table.h"
#include "diag/partition_read.h"
#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "diag/workbench.h"
#include "layout/fixed_text.h"
#include "layout/partition_index.h"
#include "link/serial_link.h"
#include "protocol/command_exchange.h"
#include "protocol/streaming.h"

namespace veltrix {
namespace {

constexpr std::string_view kStartLine = "======== DDR TEST START\n";
constexpr std::string_view kLevel0Line = "TEST LEVEL = 0 (check data/address line)\n";
constexpr std::string_view kWriteFailLine = "WRITE FAIL During DDR Test..";
constexpr std::string_view kReadFailLine = "READ FAIL During DDR Test..";
constexpr const char* kTestImageFolder = "test_image";
// The loader family of the DLOAD models with the OEMSBL image set.
constexpr int kOemsblLoader = 2;

// The verdict record: the first four bytes of the verdict partition, after READ's code byte and
// address in the reply.
constexpr int kVerdictLength = 4;
constexpr size_t kReplyDataOffset = 5;

// The index entry of `label`, or null (with a console line) when the index has none.
const ImagePartition* FindEntry(Workbench& bench, std::string_view label) {
    const int slot = FindImagePartition(bench.index, label);
    if (slot >= 0 && slot < kPartitionIndexCapacity && bench.index.imagePartitions[slot]) {
        return bench.index.imagePartitions[slot].get();
    }
    WriteConsole(bench.link, Format("Partition %.*s is not in partition.txt\n",
                                    static_cast<int>(label.size()), label.data()));
    return nullptr;
}

// Writes one test image from the model's test-image folder into the start of `entry`; the image
// must fit the partition. 0, kErrorOperationAborted, or 31 (logged). `*sent` tells whether any
// of it may have reached the flash.
int WriteTestImage(Workbench& bench, std::string_view file, const ImagePartition& entry,
                   bool* sent) {
    const std::filesystem::path path =
        ModelFolder(bench.state.workDir, bench.state.model) / kTestImageFolder / file;
    const std::string label = PrintableName(LabelText(entry));
    const uint64_t room =
        PartitionSpanSectors(bench.index, Latin1ToUtf8(LabelText(entry))) * kSectorBytes;
    StreamFileFacts facts;
    const int result = StreamWriteFile(path, bench.state.session, entry.startSector, room, &facts);
    const bool refused = result == kErrorFileNotFound || result == kErrorNotRegularFile ||
                         (result == kErrorFileTooLarge && facts.size > room);
    *sent = !refused;
    if (result == kErrorSuccess) {
        return kErrorSuccess;
    }
    if (RunCancelled(bench)) {
        return kErrorOperationAborted;
    }
    if (result == kErrorFileNotFound) {
        // The file that is missing is the test image, so its path is what the operator checks.
        AppendLog(bench,
                  Format("Filename not found. Please check if %s exist\n", path.string().c_str()));
        return kErrorGenFailure;
    }
    if (const std::string reason = ImageRefusal(result, path.string(), facts, label, room);
        !reason.empty()) {
        AppendLog(bench, reason);
    }
    AppendLog(bench,
              Format("%s partition write FAIL.. sector 0x%x", label.c_str(), entry.startSector));
    return kErrorGenFailure;
}

// WriteBootImages with a "WRITE FAIL" line on failure.
int RestoreBootImages(Workbench& bench, const std::string& label) {
    if (bench.steps.WriteBootImages(bench, label) == kErrorSuccess) {
        return kErrorSuccess;
    }
    if (RunCancelled(bench)) {
        return kErrorOperationAborted;
    }
    AppendLog(bench, kWriteFailLine);
    return kErrorWriteFault;
}

// What phase 2 writes back over the test images, in order: family 0 "sbl1"; family 2 every
// partition of the program list (the empty label); family 1 its GPT, then "sbl2".
std::vector<std::string> RestoreLabels(int loaderFamily) {
    switch (loaderFamily) {
        case kSaharaLoader:
            return {"sbl1"};
        case kOemsblLoader:
            return {""};
        default:
            return {"PrimaryGPT", "sbl2"};
    }
}

// Writes the boot images of the target directory back over the test images. 0 (the board boots
// again: the run no longer has test images on it), 29 with "WRITE FAIL During DDR Test..", or
// kErrorOperationAborted.
int PutBootImagesBack(Workbench& bench, int loaderFamily) {
    for (const std::string& label : RestoreLabels(loaderFamily)) {
        if (const int r = RestoreBootImages(bench, label); r != kErrorSuccess) {
            return r;
        }
    }
    bench.state.testImagesOnBoard = false;
    return kErrorSuccess;
}

// Writes the test images. 0; kErrorOperationAborted; 31 (logged) when one cannot be written or
// its partition is not in the index.
int WriteTestImages(Workbench& bench, const SdramImageSet& set) {
    const ImagePartition* boot = FindEntry(bench, set.bootPartition);
    if (boot == nullptr) {
        return kErrorGenFailure;
    }
    // Family 2 writes its second image only when the index has its partition.
    const ImagePartition* second =
        set.secondPartition.empty() ? nullptr : FindEntry(bench, set.secondPartition);
    bool sent = false;
    int result = WriteTestImage(bench, set.bootFile, *boot, &sent);
    bench.state.testImagesOnBoard = sent;
    if (result == kErrorSuccess && second != nullptr) {
        result = WriteTestImage(bench, set.secondFile, *second, &sent);
        bench.state.testImagesOnBoard = bench.state.testImagesOnBoard || sent;
    }
    return result;
}

int SdramPhase1(Workbench& bench, const SdramImageSet& set, int loaderFamily) {
    AppendLog(bench, kStartLine);
    AppendLog(bench, kLevel0Line);
    if (const int r = RestoreBootImages(bench, ""); r != kErrorSuccess) {
        return r;
    }
    if (const int r = WriteTestImages(bench, set); r != kErrorSuccess) {
        // A test image written in part (or the first of two) would leave a board that does not
        // boot: the boot images go back before the run ends.
        if (r != kErrorOperationAborted && bench.state.testImagesOnBoard) {
            PutBootImagesBack(bench, loaderFamily);
        }
        return r;
    }
    bench.steps.ClosePartition(bench);
    bench.steps.ResetTarget(bench);
    if (RunCancelled(bench)) {
        return kErrorOperationAborted;
    }
    bench.state.ddrWaiting = true;
    return kErrorSuccess;
}

// Reads the verdict record; false (logged) when it cannot be read.
bool ReadVerdict(Workbench& bench, const SdramImageSet& set, std::string& verdict) {
    const ImagePartition* entry = FindEntry(bench, set.verdictPartition);
    std::array<uint8_t, kReadReplyCapacity> reply{};
    if (entry == nullptr || ReadData(kVerdictLength, reply.data(), bench.state.session,
                                     entry->startSector) != kErrorSuccess) {
        if (!RunCancelled(bench)) {
            AppendLog(bench, kReadFailLine);
        }
        return false;
    }
    verdict.assign(reinterpret_cast<const char*>(&reply[kReplyDataOffset]), kVerdictLength);
    return true;
}

int SdramPhase2(Workbench& bench, const SdramImageSet& set, int loaderFamily) {
    std::string verdict;
    if (!ReadVerdict(bench, set, verdict)) {
        if (RunCancelled(bench)) {
            return kErrorOperationAborted;
        }
        // No verdict, but the board must not keep the test boot image: it would not boot.
        PutBootImagesBack(bench, loaderFamily);
        return kErrorReadFault;
    }
    SetResult(bench, ResultBox::kSdram, SdramVerdictPasses(verdict) ? kResultPass : kResultFail);
    // The record as read; bytes that are no characters show as \xNN.
    AppendLog(bench, Format("DDR TEST = %s\n", PrintableName(verdict).c_str()));
    if (const int r = PutBootImagesBack(bench, loaderFamily); r != kErrorSuccess) {
        return r;
    }
    AppendLog(bench, kSectionEndLine);
    AppendLog(bench, kEmptyLine);
    bench.state.ddrWaiting = false;
    return kErrorSuccess;
}

}  // namespace

SdramImageSet SdramImageSetFor(int loaderFamily) {
    switch (loaderFamily) {
        case kSaharaLoader:
            return {"sbl1", "sbl1.mbn", "", "", "sbl1"};
        case kOemsblLoader:
            return {"OEMSBL1", "oemsblhd.mbn", "OEMSBL2", "oemsbl.mbn", "QCSBL"};
        default:
            return {"sbl2", "sbl2.mbn", "", "", "PrimaryGPT"};
    }
}

bool SdramVerdictPasses(std::string_view verdict) {
    return EqualsIgnoreAsciiCase(verdict, "pass");
}

int RunSdramImageTest(Workbench& bench) {
    const int loaderFamily = ModelClass(bench.state.model, ModelQuery::LoaderFamily);
    const SdramImageSet set = SdramImageSetFor(loaderFamily);
    return bench.state.ddrWaiting ? SdramPhase2(bench, set, loaderFamily)
                                  : SdramPhase1(bench, set, loaderFamily);
}

}  // namespace veltrix
