#include "cli/commands.h"
#include "cli/exit_status.h"
#include "layout/image_extraction.h"

namespace veltrix::cli {

int ExtractImage(const std::filesystem::path& bin, const std::filesystem::path& dir,
                 TerminalView& view) {
    return ExtractTotalImage(bin, dir, view) == 0 ? kExitPassed : kExitExtractFailed;
}

}  // namespace veltrix::cli
