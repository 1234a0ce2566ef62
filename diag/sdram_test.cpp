#include "diag/sdram_test.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "base/text_format.h"
#include "diag/boot_restore.h"
#include "diag/model_table.h"
#include "diag/partition_read.h"
#include "diag/run_context.h"
#include "diag/run_files.h"
#include "layout/fixed_text.h"
#include "layout/partition_index.h"
#include "link/serial_link.h"
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

// One SDRAM test's place: the context, the session, the files, and whether the board holds test
// images instead of its boot images.
struct SdramRun {
    RunContext& ctx;
    ProgrammerSession& session;
    const RunFiles& files;
    bool& testImagesOnBoard;
    int loaderFamily;
};

// The index entry of `label`, or null (with a console line) when the index has none.
const ImagePartition* FindEntry(const SdramRun& run, std::string_view label) {
    if (const ImagePartition* entry = run.files.Find(label)) {
        return entry;
    }
    if (std::ostream* console = run.session.link->console) {
        *console << Format("Partition %.*s is not in partition.txt\n",
                           static_cast<int>(label.size()), label.data())
                 << std::flush;
    }
    return nullptr;
}

// Writes one test image from the model's test-image folder into the start of `entry`; the image
// must fit the partition. 0, kErrorOperationAborted, or 31 (logged). `*sent` tells whether any
// of it may have reached the flash.
int WriteTestImage(const SdramRun& run, std::string_view file, const ImagePartition& entry,
                   bool* sent) {
    const std::filesystem::path path = run.files.modelFolder / kTestImageFolder / file;
    const std::string label = PrintableName(LabelText(entry));
    const uint64_t room =
        PartitionSpanSectors(run.files.index, Latin1ToUtf8(LabelText(entry))) * kSectorBytes;
    StreamFileFacts facts;
    const int result = StreamWriteFile(path, run.session, entry.startSector, room, &facts);
    const bool refused = result == kErrorFileNotFound || result == kErrorNotRegularFile ||
                         (result == kErrorFileTooLarge && facts.size > room);
    *sent = !refused;
    if (result == kErrorSuccess) {
        return kErrorSuccess;
    }
    if (run.ctx.Cancelled()) {
        return kErrorOperationAborted;
    }
    if (result == kErrorFileNotFound) {
        // The file that is missing is the test image, so its path is what the operator checks.
        run.ctx.Log(
            Format("Filename not found. Please check if %s exist\n", path.string().c_str()));
        return kErrorGenFailure;
    }
    if (const std::string reason = ImageRefusal(result, path.string(), facts, label, room);
        !reason.empty()) {
        run.ctx.Log(reason);
    }
    run.ctx.Log(Format("%s partition write FAIL.. sector 0x%x", label.c_str(), entry.startSector));
    return kErrorGenFailure;
}

// WriteBootImages with a "WRITE FAIL" line on failure.
int RestoreBootImages(const SdramRun& run, const std::string& label) {
    if (WriteBootImages(run.ctx, run.session, run.files, label) == kErrorSuccess) {
        return kErrorSuccess;
    }
    if (run.ctx.Cancelled()) {
        return kErrorOperationAborted;
    }
    run.ctx.Log(kWriteFailLine);
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
int PutBootImagesBack(const SdramRun& run) {
    for (const std::string& label : RestoreLabels(run.loaderFamily)) {
        if (const int r = RestoreBootImages(run, label); r != kErrorSuccess) {
            return r;
        }
    }
    run.testImagesOnBoard = false;
    return kErrorSuccess;
}

// Writes the test images. 0; kErrorOperationAborted; 31 (logged) when one cannot be written or
// its partition is not in the index.
int WriteTestImages(const SdramRun& run, const SdramImageSet& set) {
    const ImagePartition* boot = FindEntry(run, set.bootPartition);
    if (boot == nullptr) {
        return kErrorGenFailure;
    }
    // Family 2 writes its second image only when the index has its partition.
    const ImagePartition* second =
        set.secondPartition.empty() ? nullptr : FindEntry(run, set.secondPartition);
    bool sent = false;
    int result = WriteTestImage(run, set.bootFile, *boot, &sent);
    run.testImagesOnBoard = sent;
    if (result == kErrorSuccess && second != nullptr) {
        result = WriteTestImage(run, set.secondFile, *second, &sent);
        run.testImagesOnBoard = run.testImagesOnBoard || sent;
    }
    return result;
}

int SdramPhase1(const SdramRun& run, const SdramImageSet& set) {
    run.ctx.Log(kStartLine);
    run.ctx.Log(kLevel0Line);
    if (const int r = RestoreBootImages(run, ""); r != kErrorSuccess) {
        return r;
    }
    if (const int r = WriteTestImages(run, set); r != kErrorSuccess) {
        // A test image written in part (or the first of two) would leave a board that does not
        // boot: the boot images go back before the run ends.
        if (r != kErrorOperationAborted && run.testImagesOnBoard) {
            PutBootImagesBack(run);
        }
        return r;
    }
    ClosePartition(run.session);
    ResetTarget(run.session);
    return run.ctx.Cancelled() ? kErrorOperationAborted : kErrorSuccess;
}

// Reads the verdict record; false (logged) when it cannot be read.
bool ReadVerdict(const SdramRun& run, const SdramImageSet& set, std::string& verdict) {
    const ImagePartition* entry = FindEntry(run, set.verdictPartition);
    std::array<uint8_t, kReadReplyCapacity> reply{};
    if (entry == nullptr ||
        ReadData(kVerdictLength, reply.data(), run.session, entry->startSector) != kErrorSuccess) {
        if (!run.ctx.Cancelled()) {
            run.ctx.Log(kReadFailLine);
        }
        return false;
    }
    verdict.assign(reinterpret_cast<const char*>(&reply[kReplyDataOffset]), kVerdictLength);
    return true;
}

int SdramPhase2(const SdramRun& run, const SdramImageSet& set) {
    std::string verdict;
    if (!ReadVerdict(run, set, verdict)) {
        if (run.ctx.Cancelled()) {
            return kErrorOperationAborted;
        }
        // No verdict, but the board must not keep the test boot image: it would not boot.
        PutBootImagesBack(run);
        return kErrorReadFault;
    }
    run.ctx.SetResult(ResultBox::kSdram, SdramVerdictPasses(verdict) ? kResultPass : kResultFail);
    // The record as read; bytes that are no characters show as \xNN.
    run.ctx.Log(Format("DDR TEST = %s\n", PrintableName(verdict).c_str()));
    if (const int r = PutBootImagesBack(run); r != kErrorSuccess) {
        return r;
    }
    run.ctx.Log(kSectionEndLine);
    run.ctx.Log(kEmptyLine);
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

int RunSdramTestPhase1(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                       bool& testImagesOnBoard) {
    const int family = ModelClass(files.model, ModelQuery::LoaderFamily);
    return SdramPhase1({ctx, session, files, testImagesOnBoard, family}, SdramImageSetFor(family));
}

int RunSdramTestPhase2(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                       bool& testImagesOnBoard) {
    const int family = ModelClass(files.model, ModelQuery::LoaderFamily);
    return SdramPhase2({ctx, session, files, testImagesOnBoard, family}, SdramImageSetFor(family));
}

}  // namespace veltrix
