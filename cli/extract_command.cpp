// veltrix-cli extract: the image extraction, with what went wrong said on standard error.

#include <system_error>

#include "base/file_io.h"
#include "cli/commands.h"
#include "cli/exit_status.h"
#include "layout/image_extraction.h"
#include "layout/total_image.h"

namespace veltrix::cli {
namespace {

// The record table and the layout mark: an image shorter than this cannot be split.
constexpr uint64_t kShortestImage = kLayoutMarkOffset + 4;

// Why `bin` cannot be an image at all, before anything is written; "" when it may be one.
std::string Unfit(const std::filesystem::path& bin) {
    InputFile in;
    if (const int code = in.Open(bin); code != 0) {
        if (code == kErrorDirectory) {
            return bin.string() + " is a folder, not a total binary image (--bin)";
        }
        return "cannot read " + bin.string() + ": " + in.errorText() + " (--bin)";
    }
    std::error_code ec;
    const uint64_t size = std::filesystem::file_size(bin, ec);
    if (!ec && size < kShortestImage) {
        return bin.string() + " is " + std::to_string(size) +
               " bytes, too short for the partition tables of a total binary image (--bin)";
    }
    return {};
}

}  // namespace

int ExtractImage(const std::filesystem::path& bin, const std::filesystem::path& dir,
                 TerminalView& view) {
    if (std::string unfit = Unfit(bin); !unfit.empty()) {
        view.Error(unfit);
        return kExitExtractFailed;
    }
    if (ExtractTotalImage(bin, dir, view) == 0) {
        return kExitPassed;
    }
    const auto lines = view.Lines();
    view.Error("the extraction into " + dir.string() + " did not complete" +
               (lines.empty() ? std::string() : ": " + lines.back()));
    return kExitExtractFailed;
}

}  // namespace veltrix::cli
