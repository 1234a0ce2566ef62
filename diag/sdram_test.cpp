#include "diag/sdram_test.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "base/text_format.h"
#include "diag/board_tests.h"
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
constexpr std::string_view kNoVerdictLine = "No DDR test verdict came from the board\n";
constexpr const char* kTestImageFolder = "test_image";
// The loader family of the DLOAD models with the OEMSBL image set.
constexpr int kOemsblLoader = 2;

// The verdict record: the first four bytes of the verdict partition, after READ's code byte and
// address in the reply.
constexpr int kVerdictLength = 4;
constexpr size_t kReplyDataOffset = 5;

// One SDRAM test's place: the context, the session, the files, and what the board holds instead
// of its own images.
struct SdramRun {
    RunContext& ctx;
    ProgrammerSession& session;
    const RunFiles& files;
    SdramLeftovers& leftovers;
    int loaderFamily;
};

bool SameLabel(std::string_view a, std::string_view b) {
    return EqualsIgnoreAsciiCase(a, b);
}

void NoteLeftover(const SdramRun& run, const std::string& label) {
    for (const std::string& listed : run.leftovers.partitions) {
        if (SameLabel(listed, label)) {
            return;
        }
    }
    run.leftovers.partitions.push_back(label);
}

void NoteBack(const SdramRun& run, std::string_view label) {
    std::erase_if(run.leftovers.partitions,
                  [label](const std::string& listed) { return SameLabel(listed, label); });
}

// The room of `label`, or one without an entry (with a console line and the run's reason) when
// the index has none.
PartitionRoom FindRoom(const SdramRun& run, std::string_view label) {
    PartitionRoom room = FindPartitionRoom(run.files.index, label);
    if (room.entry == nullptr) {
        const std::string name(label);
        if (std::ostream* console = run.session.link->console()) {
            *console << Format("Partition %s is not in partition.txt\n", name.c_str())
                     << std::flush;
        }
        run.ctx.NoteFailure(name + " is not in partition.txt");
    }
    return room;
}

std::string EntryLabel(const PartitionRoom& room) {
    return PrintableName(LabelText(*room.entry));
}

// Writes one test image from the model's test-image folder into its partition (it must fit).
// 0, kErrorOperationAborted, or 31 with "%s partition write FAIL.. sector 0x%x" after the line
// that says why.
int WriteTestImage(const SdramRun& run, std::string_view file, const PartitionRoom& room) {
    const std::filesystem::path path = run.files.modelFolder / kTestImageFolder / file;
    const std::string label = EntryLabel(room);
    bool sent = false;
    // The file that may be missing is the test image, so its path is what the operator checks.
    const int result =
        WriteImageIntoPartition(run.ctx, run.session, path, path.string(), room, &sent);
    if (sent) {
        NoteLeftover(run, label);
    }
    if (result == kErrorSuccess || result == kErrorOperationAborted) {
        return result;
    }
    run.ctx.Log(
        Format("%s partition write FAIL.. sector 0x%x", label.c_str(), room.entry->startSector));
    return kErrorGenFailure;
}

// WriteBootImages with a "WRITE FAIL" line on failure: 29 when the board did not take a write,
// 31 when an image could not be sent at all (the PC's files are to blame, not the flash).
int RestoreBootImages(const SdramRun& run, const std::string& label) {
    const int result = WriteBootImages(run.ctx, run.session, run.files, label);
    if (result == kErrorSuccess || result == kErrorOperationAborted) {
        return result;
    }
    run.ctx.Log(kWriteFailLine);
    return result == kErrorOpenFailed ? kErrorGenFailure : kErrorWriteFault;
}

// Puts the verdict partition's first sector back as phase 1 found it (the target directory has no
// image of it). 0 or 29 (logged).
int PutVerdictSectorBack(const SdramRun& run, const PartitionRoom& room) {
    if (StreamWriteData(room.entry->startSector, run.session, run.leftovers.verdictSector) ==
        kErrorSuccess) {
        run.ctx.Log(Format("%s partition write done..\n", EntryLabel(room).c_str()));
        return kErrorSuccess;
    }
    if (run.ctx.Cancelled()) {
        return kErrorOperationAborted;
    }
    run.ctx.Log(Format("%s partition write FAIL.. sector 0x%x\n", EntryLabel(room).c_str(),
                       room.entry->startSector));
    run.ctx.Log(kWriteFailLine);
    return kErrorWriteFault;
}

// What goes back over the test images, in order: family 0 "sbl1"; family 2 every partition of the
// program list; family 1 its GPT, then "sbl2"; then whatever else phase 1 wrote (a test image's
// partition or the verdict's that the list does not name).
std::vector<std::string> RestoreLabels(const SdramRun& run) {
    std::vector<std::string> labels;
    switch (run.loaderFamily) {
        case kSaharaLoader:
            labels = {"sbl1"};
            break;
        case kOemsblLoader:
            for (int i = 0; i < run.files.programList.count; ++i) {
                if (const ProgramEntry* entry = run.files.programList.At(i)) {
                    labels.push_back(entry->label);
                }
            }
            break;
        default:
            labels = {"PrimaryGPT", "sbl2"};
    }
    for (const std::string& written : run.leftovers.partitions) {
        if (std::none_of(labels.begin(), labels.end(),
                         [&](const std::string& l) { return SameLabel(l, written); })) {
            labels.push_back(written);
        }
    }
    return labels;
}

// Writes the boot images of the target directory back over everything phase 1 wrote. 0 (the
// board boots again), 29 or 31 with "WRITE FAIL During DDR Test..", or kErrorOperationAborted;
// what is not back stays in the leftovers.
// An image the PC cannot send does not stop the others (the board takes them); a write the
// board refuses does.
int PutBootImagesBack(const SdramRun& run, const SdramImageSet& set) {
    int result = kErrorSuccess;
    for (const std::string& label : RestoreLabels(run)) {
        const bool savedSector =
            SameLabel(label, set.verdictPartition) && !run.leftovers.verdictSector.empty();
        const int r = savedSector ? PutVerdictSectorBack(run, FindRoom(run, label))
                                  : RestoreBootImages(run, label);
        if (r == kErrorSuccess) {
            NoteBack(run, label);
            continue;
        }
        if (r != kErrorGenFailure) {
            return r;
        }
        result = result == kErrorSuccess ? r : result;
    }
    return result;
}

// The rooms phase 1 writes, found before anything is written: a test image's partition or the
// verdict's that the index does not have fails the test at once (31, nothing written).
struct Phase1Rooms {
    PartitionRoom boot;
    std::optional<PartitionRoom> second;  // family 2, when the index has "OEMSBL2"
    PartitionRoom verdict;
};

std::optional<Phase1Rooms> FindPhase1Rooms(const SdramRun& run, const SdramImageSet& set) {
    Phase1Rooms rooms{FindRoom(run, set.bootPartition), std::nullopt, {}};
    if (rooms.boot.entry == nullptr) {
        return std::nullopt;
    }
    if (!set.secondPartition.empty()) {
        if (PartitionRoom second = FindPartitionRoom(run.files.index, set.secondPartition);
            second.entry != nullptr) {
            rooms.second = std::move(second);
        }
    }
    rooms.verdict = FindRoom(run, set.verdictPartition);
    if (rooms.verdict.entry == nullptr) {
        return std::nullopt;
    }
    return rooms;
}

// The verdict partition's first sector as it goes on the board before the reset: its own image
// from the target directory, or what the board holds there (kept in the leftovers to be put
// back); in both, a verdict record at its start is cleared. Empty when neither can be had.
std::vector<uint8_t> VerdictSectorToWrite(const SdramRun& run, const PartitionRoom& room) {
    std::vector<uint8_t> sector(kSectorBytes);
    InputFile image;
    const auto path = ImageFilePath(run.files.targetDir, *room.entry);
    if (!path || image.OpenBounded(*path, room.roomBytes) != kErrorSuccess ||
        image.ReadFull(sector.data(), sector.size()) != static_cast<long long>(sector.size())) {
        std::array<uint8_t, kReadReplyCapacity> reply{};
        if (ReadData(kSectorBytes, reply.data(), run.session, room.entry->startSector) !=
            kErrorSuccess) {
            return {};
        }
        std::copy_n(reply.begin() + kReplyDataOffset, kSectorBytes, sector.begin());
        run.leftovers.verdictSector = sector;
    }
    const std::string_view head(reinterpret_cast<const char*>(sector.data()), kVerdictLength);
    if (IsSdramVerdict(head)) {
        std::fill_n(sector.begin(), kVerdictLength, uint8_t{0});
    }
    return sector;
}

// Before the reset the verdict place must hold no verdict record, so that a record read after
// it is this run's (one left by an earlier run, or by an image extracted from a tested board,
// would pass a board whose test image never ran). Nothing to do when a test image went into the
// verdict partition: its own bytes are there now. 0, kErrorOperationAborted, or 31 (logged).
int ClearVerdictPlace(const SdramRun& run, const SdramImageSet& set, const PartitionRoom& room) {
    if (SameLabel(set.verdictPartition, set.bootPartition) ||
        SameLabel(set.verdictPartition, set.secondPartition)) {
        return kErrorSuccess;
    }
    const std::string label = EntryLabel(room);
    const std::vector<uint8_t> sector = VerdictSectorToWrite(run, room);
    if (!sector.empty()) {
        NoteLeftover(run, label);
        if (StreamWriteData(room.entry->startSector, run.session, sector) == kErrorSuccess) {
            return kErrorSuccess;
        }
    }
    if (run.ctx.Cancelled()) {
        return kErrorOperationAborted;
    }
    run.ctx.Log(
        Format("%s partition write FAIL.. sector 0x%x", label.c_str(), room.entry->startSector));
    run.ctx.NoteFailure("the verdict place in " + label + " could not be cleared");
    return kErrorGenFailure;
}

// The test images, then the verdict place. 0; kErrorOperationAborted; 31 (logged).
int WriteTestImages(const SdramRun& run, const SdramImageSet& set, const Phase1Rooms& rooms) {
    int result = WriteTestImage(run, set.bootFile, rooms.boot);
    if (result == kErrorSuccess && rooms.second) {
        result = WriteTestImage(run, set.secondFile, *rooms.second);
    }
    if (result == kErrorSuccess) {
        result = ClearVerdictPlace(run, set, rooms.verdict);
    }
    return result;
}

int SdramPhase1(const SdramRun& run, const SdramImageSet& set) {
    run.ctx.Log(kStartLine);
    run.ctx.Log(kLevel0Line);
    if (const int r = RestoreBootImages(run, ""); r != kErrorSuccess) {
        return r;
    }
    const std::optional<Phase1Rooms> rooms = FindPhase1Rooms(run, set);
    if (!rooms) {
        return kErrorGenFailure;
    }
    if (const int r = WriteTestImages(run, set, *rooms); r != kErrorSuccess) {
        // A test image written in part (or the first of two) would leave a board that does not
        // boot: the boot images go back before the run ends.
        if (r != kErrorOperationAborted && run.leftovers.Any()) {
            PutBootImagesBack(run, set);
        }
        return r;
    }
    ClosePartition(run.session);
    ResetTarget(run.session);
    run.ctx.record().programmerRunning = false;  // the board restarts into the test image
    return run.ctx.Cancelled() ? kErrorOperationAborted : kErrorSuccess;
}

// Reads the verdict record; false (logged) when it cannot be read.
bool ReadVerdict(const SdramRun& run, const SdramImageSet& set, std::string& verdict) {
    const PartitionRoom room = FindRoom(run, set.verdictPartition);
    std::array<uint8_t, kReadReplyCapacity> reply{};
    if (room.entry == nullptr || ReadData(kVerdictLength, reply.data(), run.session,
                                          room.entry->startSector) != kErrorSuccess) {
        if (!run.ctx.Cancelled()) {
            run.ctx.Log(kReadFailLine);
            run.ctx.NoteFailure("the SDRAM verdict could not be read");
        }
        return false;
    }
    verdict.assign(reinterpret_cast<const char*>(&reply[kReplyDataOffset]), kVerdictLength);
    return true;
}

// Shows what the verdict place holds: a verdict in the SDRAM box, anything else as no verdict
// (the test image did not run to its end).
void ShowVerdict(const SdramRun& run, const SdramImageSet& set, const std::string& verdict) {
    // The record as read; bytes that are no characters show as \xNN.
    const std::string shown = PrintableName(verdict);
    if (IsSdramVerdict(verdict)) {
        run.ctx.SetResult(ResultBox::kSdram,
                          SdramVerdictPasses(verdict) ? kResultPass : kResultFail);
        run.ctx.Log(Format("DDR TEST = %s\n", shown.c_str()));
        return;
    }
    run.ctx.record().sdramNoVerdict = true;
    run.ctx.Log(kNoVerdictLine);
    run.ctx.Log(
        Format("%s holds %s where the test image writes PASS or FAIL: it did not run to "
               "its end\n",
               std::string(set.verdictPartition).c_str(), shown.c_str()));
}

int SdramPhase2(const SdramRun& run, const SdramImageSet& set) {
    std::string verdict;
    if (!ReadVerdict(run, set, verdict)) {
        if (run.ctx.Cancelled()) {
            return kErrorOperationAborted;
        }
        // No verdict, but the board must not keep the test boot image: it would not boot.
        PutBootImagesBack(run, set);
        return kErrorReadFault;
    }
    ShowVerdict(run, set, verdict);
    if (const int r = PutBootImagesBack(run, set); r != kErrorSuccess) {
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

bool IsSdramVerdict(std::string_view record) {
    return SdramVerdictPasses(record) || EqualsIgnoreAsciiCase(record, "fail");
}

int RunSdramTestPhase1(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                       SdramLeftovers& leftovers) {
    const int family = ModelClass(files.model, ModelQuery::LoaderFamily);
    return SdramPhase1({ctx, session, files, leftovers, family}, SdramImageSetFor(family));
}

int RunSdramTestPhase2(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                       SdramLeftovers& leftovers) {
    const int family = ModelClass(files.model, ModelQuery::LoaderFamily);
    return SdramPhase2({ctx, session, files, leftovers, family}, SdramImageSetFor(family));
}

}  // namespace veltrix
