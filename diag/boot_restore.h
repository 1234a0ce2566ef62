#pragma once
// The boot-image restore: partition images from the target directory are written back into the
// flash, each at the start sector partition.txt gives for its label.

#include <cstdint>
#include <string>

#include "protocol/streaming.h"

namespace veltrix {

class RunContext;
struct RunFiles;
struct ImagePartition;

// Writes the image of `label` (UTF-8; looked up in the partition index ignoring ASCII case), or
// of every program-list label in order when it is empty, stopping at the first failure.
// 0 when every chosen image was written; 6 when a label is not in the index or an image cannot
// be written (logged); kErrorOperationAborted when the run was cancelled. An empty program list
// writes nothing and gives 0.
int WriteBootImages(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                    const std::string& label);

// Writes the entry's image file (its file name inside the target directory, nothing else) from
// its start sector, when it is a regular file that fits the partition's span in partition.txt
// (all of its pieces). 0 with "%s partition write done..\n"; 6 with "%s partition write FAIL..
// sector 0x%x\n", preceded by a line that says why when the file is missing ("Filename not
// found. Please check if %s exist\n"), not a regular file or too large (nothing sent then);
// kErrorOperationAborted when the run was cancelled.
int WriteBootPartition(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                       const ImagePartition& entry);

// The line that says why an image file was not written (missing, not a regular file, larger than
// its partition's `roomBytes`), for StreamWriteFile's result; empty for other results.
std::string ImageRefusal(int result, const std::string& file, const StreamFileFacts& facts,
                         const std::string& partition, uint64_t roomBytes);

}  // namespace veltrix
