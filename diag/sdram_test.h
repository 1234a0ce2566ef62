#pragma once
// The two-phase SDRAM test behind the flash programmer. Phase 1 writes the model's test boot
// image into the board's boot partition and resets the board, which boots it, tests its memory
// and writes a four-character verdict at the start of a known partition. Phase 2, once the board
// is back in download mode, reads and shows that verdict and writes the boot images from the
// target directory back.

#include <string_view>

namespace veltrix {

class RunContext;
struct ProgrammerSession;
struct RunFiles;
struct SdramLeftovers;

// The partitions and files of one loader family's image set.
struct SdramImageSet {
    std::string_view bootPartition;    // the test image goes here
    std::string_view bootFile;         // from the model's "test_image" folder
    std::string_view secondPartition;  // family 2 only: a second test image, if present
    std::string_view secondFile;
    std::string_view verdictPartition;  // where the test image writes its verdict record
};

// Family 0: "sbl1.mbn" into "sbl1", verdict in "sbl1"; family 2: "oemsblhd.mbn" into "OEMSBL1"
// and "oemsbl.mbn" into "OEMSBL2", verdict in "QCSBL"; any other: "sbl2.mbn" into "sbl2",
// verdict in "PrimaryGPT".
SdramImageSet SdramImageSetFor(int loaderFamily);

// True when the four verdict characters read "pass", ignoring case.
bool SdramVerdictPasses(std::string_view verdict);
// True when the four characters are a verdict at all: "pass" or "fail", ignoring case. Anything
// else (zeros, what the partition held before) is no verdict.
bool IsSdramVerdict(std::string_view record);

// Phase 1: writes the boot images of the program list, then the model's test images into their
// partitions (each must fit its partition), then makes sure the verdict place holds no verdict
// record, then closes the flash and resets the board, which boots the test image. 0 done; 29 the
// boot-image write failed on the board (nothing else written); 31 a test image or the verdict
// place could not be written, a boot image could not be sent, or a partition of the image set is
// not in the index (logged; whatever was written goes back before it returns);
// kErrorOperationAborted when the run was cancelled. `leftovers` names what the board holds
// instead of its own images.
int RunSdramTestPhase1(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                       SdramLeftovers& leftovers);

// Phase 2, once the board is back in download mode: reads and shows the verdict ("pass" or
// "fail"; anything else is no verdict, marked in the record), then puts back everything phase 1
// wrote: the family's boot images and every partition in `leftovers`. 0 (whatever the verdict);
// 29 the board did not take the images back, 31 an image could not be sent; 30 the verdict
// cannot be read (also when its partition is not in the index; the images are put back all the
// same); kErrorOperationAborted when the run was cancelled. What could not be put back stays in
// `leftovers`.
int RunSdramTestPhase2(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                       SdramLeftovers& leftovers);

}  // namespace veltrix
