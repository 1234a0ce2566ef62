#pragma once
// The boot-image restore: partition images from the target directory are written back into the
// flash, each at the sectors partition.txt gives for its label.

#include <cstdint>
#include <filesystem>
#include <string>

#include "protocol/streaming.h"

namespace veltrix {

class RunContext;
struct RunFiles;
struct PartitionRoom;

// Writes the image of `label` (UTF-8; looked up in the partition index ignoring ASCII case), or
// of every program-list label in order when it is empty, stopping at the first failure.
// 0 when every chosen image was written; 6 when the board did not take a write (logged);
// kErrorOpenFailed (110) when the PC is to blame and nothing of that image was sent: a label that
// is not in the index, an image that is missing, not a regular file or too large, a partition
// that overlaps another in partition.txt (logged, the reason noted for the run);
// kErrorOperationAborted when the run was cancelled. An empty program list writes nothing and
// gives 0.
// Each image written logs "%s partition write done..\n"; a failed one logs why, then "%s
// partition write FAIL.. sector 0x%x\n", and a write cut short names the partition as partly
// written (in the log and the record).
int WriteBootImages(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                    const std::string& label);

// Writes the file at `path` into the partition `room` describes, each piece of the file to its
// own piece of the partition (a split partition's gaps belong to others and are never written),
// moving the progress bar. Refused before anything is sent, with a line that says why and the
// reason noted for the run: a partition another entry overlaps, and a file that is missing, not
// a regular file, or larger than the room (kErrorFileNotFound, kErrorNotRegularFile,
// kErrorFileTooLarge; kErrorInvalidData for an overlap). Otherwise 0, kErrorOperationAborted, or
// the write's failure code. `*sent` tells whether any of it may have reached the flash.
// `shownFile` names the file in those lines.
int WriteImageIntoPartition(RunContext& ctx, ProgrammerSession& session,
                            const std::filesystem::path& path, const std::string& shownFile,
                            const PartitionRoom& room, bool* sent);

}  // namespace veltrix
