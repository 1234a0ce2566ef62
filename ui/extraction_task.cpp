#include "ui/extraction_task.h"

#include <system_error>

#include "layout/image_extraction.h"

namespace veltrix::ui {

ExtractionTask::~ExtractionTask() {
    Join();
}

bool ExtractionTask::Start(std::filesystem::path bin, std::filesystem::path dir, LogView& view,
                           std::function<void(uint64_t, uint64_t)> onProgress,
                           std::function<void()> onDone) {
    if (running_) {
        return false;
    }
    Join();
    running_ = true;
    try {
        thread_ = std::thread([this, bin = std::move(bin), dir = std::move(dir), &view,
                               onProgress = std::move(onProgress), onDone = std::move(onDone)] {
            int shown = -1;
            const auto progress = [&](uint64_t done, uint64_t total) {
                const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
                if (percent != shown && onProgress) {
                    onProgress(done, total);
                    shown = percent;
                }
            };
            ExtractTotalImage(bin, dir, view, nullptr, progress);
            running_ = false;
            if (onDone) {
                onDone();
            }
        });
    } catch (const std::system_error&) {
        running_ = false;
        return false;
    }
    return true;
}

void ExtractionTask::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

}  // namespace veltrix::ui
