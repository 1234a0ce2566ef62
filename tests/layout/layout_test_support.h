#pragma once
// The older names of the scene's folder and total-image helpers, for the tests not yet on the
// scene's own names (tests/support/bench_scene.h).

#include "tests/support/bench_scene.h"

namespace veltrix::testing {

using TempDir = TempFolder;
using TestRecord = ImageRecord;
using TestImage = TotalImage;
inline void WriteTestImage(const std::filesystem::path& path, const TotalImage& image) {
    WriteTotalImage(path, image);
}
inline Lines ListDir(const std::filesystem::path& folder) {
    return ListFolder(folder);
}

}  // namespace veltrix::testing
