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

// Phase 1: writes the boot images of the program list, then the model's test images into their
// partitions (each must fit its partition), then closes the flash and resets the board, which
// boots the test image. 0 done; 29 the boot-image write failed (nothing else written); 31 a test
// image could not be written (logged; the boot images are put back when some of it may have
// reached the flash) or its partition is not in the index; kErrorOperationAborted when the run
// was cancelled. `testImagesOnBoard` tells whether the board is left with test images.
int RunSdramTestPhase1(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                       bool& testImagesOnBoard);

// Phase 2, once the board is back in download mode: reads and shows the verdict, then puts the
// boot images back. 0 (whatever the verdict); 29 the boot images could not be put back; 30 the
// verdict cannot be read (also when its partition is not in the index; the boot images are put
// back all the same); kErrorOperationAborted when the run was cancelled. `testImagesOnBoard` is
// cleared once the boot images are back.
int RunSdramTestPhase2(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                       bool& testImagesOnBoard);

}  // namespace veltrix
