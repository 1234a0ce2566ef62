#pragma once
// Splits a total binary image into one "<name>.mbn" file per partition in a folder and writes
// "partition.txt" beside them. Offline: no board is involved.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "layout/log_view.h"

namespace veltrix {

// Reports each step in the run log (lines inserted at positions counted from 0, the last line
// selected after each) and shows "completed.  " when everything, partition.txt included, has
// been written. Nothing is written when the image's tables are refused or when an output file
// would be the image itself. Otherwise an older partition.txt is removed before the first file
// is written (and the run log says so), so a failed extraction leaves no index; the file being
// written when a read or write fails is removed, and the files written before it stay. Output
// files are written under new temporary names and renamed into place; the folder is made (with
// its parents) when it is missing; a link, FIFO, device or
// folder at an output name (partition.txt included) is refused before anything is written. Returns
// 0; kErrorOpenFailed (110) when the image cannot be opened or no folder is given; kErrorReadFault
// (30) when the image is shorter than its tables say or cannot be read; kErrorWriteFault (29) when
// an output file cannot be created or written, or is the image itself, or another extraction is
// writing into the folder (one at a time: the folder is locked while its files are written);
// kErrorGenFailure (31) when the tables are refused (too many records, unsafe or too long names,
// overlapping pieces, pieces further apart than any device holds); kErrorOperationAborted (995)
// when `cancel` (looked at between copy pieces of at most 1 MiB, and once partition.txt is
// written) was set: the file being written is removed, those finished before it stay, and no
// partition.txt is left. `progress`, when given, hears the data bytes copied so far and the data
// area's size, after every copy piece.
using ExtractionProgress = std::function<void(uint64_t done, uint64_t total)>;
int ExtractTotalImage(const std::filesystem::path& binPath, const std::filesystem::path& dirPath,
                      LogView& view, const std::atomic<bool>* cancel = nullptr,
                      const ExtractionProgress& progress = {});

}  // namespace veltrix
