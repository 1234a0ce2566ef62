#include "diag/sdram_test.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text_format.h"
#include "diag/model_table.h"
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

// Writes one test image from the model's test-image folder into the start of `entry`.
int WriteTestImage(Workbench& bench, std::string_view file, const ImagePartition& entry) {
    const std::filesystem::path path =
        ModelFolder(bench.state.workDir, bench.state.model) / kTestImageFolder / file;
    const int result = StreamWriteFile(path, bench.state.session, entry.startSector);
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
    } else {
        AppendLog(bench, Format("%s partition write FAIL.. sector 0x%x",
                                PrintableName(LabelText(entry)).c_str(), entry.startSector));
    }
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

int SdramPhase1(Workbench& bench, const SdramImageSet& set) {
    AppendLog(bench, kStartLine);
    AppendLog(bench, kLevel0Line);
    if (const int r = RestoreBootImages(bench, ""); r != kErrorSuccess) {
        return r;
    }
    const ImagePartition* boot = FindEntry(bench, set.bootPartition);
    if (boot == nullptr) {
        return kErrorGenFailure;
    }
    // Family 2 writes its second image only when the index has its partition.
    const ImagePartition* second =
        set.secondPartition.empty() ? nullptr : FindEntry(bench, set.secondPartition);
    if (const int r = WriteTestImage(bench, set.bootFile, *boot); r != kErrorSuccess) {
        return r;
    }
    if (second != nullptr) {
        if (const int r = WriteTestImage(bench, set.secondFile, *second); r != kErrorSuccess) {
            return r;
        }
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

int SdramPhase2(Workbench& bench, const SdramImageSet& set, int loaderFamily) {
    std::string verdict;
    if (!ReadVerdict(bench, set, verdict)) {
        return RunCancelled(bench) ? kErrorOperationAborted : kErrorReadFault;
    }
    SetResult(bench, ResultBox::kSdram, SdramVerdictPasses(verdict) ? kResultPass : kResultFail);
    // The record as read; bytes that are no characters show as \xNN.
    AppendLog(bench, Format("DDR TEST = %s\n", PrintableName(verdict).c_str()));

    for (const std::string& label : RestoreLabels(loaderFamily)) {
        if (const int r = RestoreBootImages(bench, label); r != kErrorSuccess) {
            return r;
        }
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
    return bench.state.ddrWaiting ? SdramPhase2(bench, set, loaderFamily) : SdramPhase1(bench, set);
}

}  // namespace veltrix
