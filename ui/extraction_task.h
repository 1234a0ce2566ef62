#pragma once
// The total-image extraction on a thread of its own, so the window stays responsive while a
// large image is split. Its run-log lines and its closing message go to the view in the order
// written (the view marshals them onto the GUI thread); its progress in bytes is passed on for
// the bar and the rate.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <thread>

#include "layout/log_view.h"

namespace veltrix::ui {

class ExtractionTask {
public:
    ExtractionTask() = default;
    ~ExtractionTask();  // joins a thread still running
    ExtractionTask(const ExtractionTask&) = delete;
    ExtractionTask& operator=(const ExtractionTask&) = delete;

    // Starts the extraction. `onProgress` is called on the extraction thread with the data bytes
    // copied and the data area's size whenever the percentage moves; `onDone` is called on the
    // extraction thread as its very last step. False when an extraction is still running or the
    // system refuses a thread (nothing was done).
    bool Start(std::filesystem::path bin, std::filesystem::path dir, LogView& view,
               std::function<void(uint64_t, uint64_t)> onProgress, std::function<void()> onDone);
    // True from Start until the thread has made its last call.
    bool Running() const { return running_; }
    // Waits for the thread; call it once Running() is false, or from a thread the extraction's
    // view does not wait on.
    void Join();

private:
    std::thread thread_;
    std::atomic<bool> running_{false};
};

}  // namespace veltrix::ui
