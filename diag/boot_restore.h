#pragma once
// The boot-image restore: partition images from the target directory are written back into the
// flash, each at the start sector partition.txt gives for its label.

#include <string>

namespace veltrix {

struct Workbench;
struct ImagePartition;

// Writes the image of `label` (UTF-8; looked up in the partition index ignoring ASCII case), or
// of every program-list label in order when it is empty, stopping at the first failure.
// 0 when every chosen image was written; 6 when a label is not in the index or an image cannot
// be written (logged); kErrorOperationAborted when the run was cancelled. An empty program list
// writes nothing and gives 0.
int WriteBootImages(Workbench& bench, const std::string& label);

// Writes the entry's image file (its file name inside the target directory, nothing else) from
// its start sector. 0 with "%s partition write done..\n"; 6 with "%s partition write FAIL..
// sector 0x%x\n", preceded by "Filename not found. Please check if %s exist\n" when the file
// cannot be opened; kErrorOperationAborted when the run was cancelled.
int WriteBootPartition(Workbench& bench, const ImagePartition& entry);

}  // namespace veltrix
