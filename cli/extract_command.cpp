// veltrix-cli extract: the image extraction, with what went wrong said on standard error.

#include <system_error>

#include "base/file_io.h"
#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "cli/selections.h"
#include "layout/image_extraction.h"
#include "layout/total_image.h"

namespace veltrix::cli {
namespace {

// The record table and the layout mark: an image shorter than this cannot be split.
constexpr uint64_t kShortestImage = kLayoutMarkOffset + 4;

// Why `bin` cannot be an image at all, or the index in `dir` cannot be replaced, before anything
// is written; "" when the extraction may go ahead.
std::string Unfit(const std::filesystem::path& bin, const std::filesystem::path& dir) {
    InputFile in;
    if (const int code = in.Open(bin); code != 0) {
        if (code == kErrorDirectory) {
            return bin.string() + " is a folder, not a total binary image (--bin)";
        }
        return "cannot read " + bin.string() + ": " + in.errorText() + " (--bin)";
    }
    if (std::string problem = CheckOutputPath(dir / kPartitionTxtName); !problem.empty()) {
        return problem + ": the extraction replaces only a regular file (--dir)";
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
    if (std::string unfit = Unfit(bin, dir); !unfit.empty()) {
        view.Error(unfit);
        return kExitExtractFailed;
    }
    std::atomic<bool> cancel{false};
    int result = 0;
    {
        CancelOnInterrupt interrupt(cancel);
        // The bar (on a terminal) with the rate and the time left, moved when its percentage is.
        int shown = -1;
        const auto progress = [&view, &shown](uint64_t done, uint64_t total) {
            const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
            if (percent != shown) {
                view.SetTransfer(done, total);
                view.SetProgress(percent);
                shown = percent;
            }
        };
        result = ExtractTotalImage(bin, dir, view, &cancel, progress);
    }
    if (result == kErrorSuccess) {
        if (cancel) {  // after the index was checked for the cancel: the work is whole
            view.Error("the cancel came too late to stop the extraction into " + dir.string() +
                       ": it had completed, partition.txt included");
        }
        return kExitPassed;
    }
    if (result == kErrorOperationAborted) {
        view.Error("the extraction into " + dir.string() +
                   " was cancelled: the unfinished file is removed and partition.txt is not "
                   "written");
        return kExitAborted;
    }
    const auto lines = view.Lines();
    view.Error("the extraction into " + dir.string() + " did not complete" +
               (lines.empty() ? std::string() : ": " + lines.back()));
    return kExitExtractFailed;
}

}  // namespace veltrix::cli
