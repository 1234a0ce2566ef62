#pragma once
// What the run engine needs of its front end: the run log (from LogView), the one-line status
// list, the progress bar and the three result boxes. The Qt dialog, the command line and the
// tests implement it. Every call comes from the worker thread (START's own from the front end's
// thread) and returns once the front end has taken it, so lines appear in the order written.

#include <cstdint>
#include <string>

#include "layout/log_view.h"

namespace veltrix {

// The result boxes, by their captions.
enum class ResultBox { kAp, kEmmc, kSdram };

inline constexpr const char* kResultPass = "PASS";
inline constexpr const char* kResultFail = "FAIL";
inline constexpr const char* kResultNotTested = "N/T";

class RunView : public LogView {
public:
    // Puts a line at the top of the one-line status list.
    virtual void PushStatus(const std::string& text) = 0;
    // Moves the progress bar; `percent` is 0..100.
    virtual void SetProgress(int percent) = 0;
    // The bytes a read, write or restore has done of its `total` so far, just before the bar
    // shows their percentage: for the rate and the time left. Starts again for each partition.
    virtual void SetTransfer(uint64_t done, uint64_t total) {
        (void)done;
        (void)total;
    }
    // A wait in which nothing moves (the board tests its memory after the DDR hand-over), counted
    // down once a second: `secondsLeft` of `seconds` to go; 0 left when it is over (or cut short).
    virtual void ShowWait(int secondsLeft, int seconds) {
        (void)secondsLeft;
        (void)seconds;
    }
    // Sets the box's text ("PASS", "FAIL" or "N/T"); its colour follows the text.
    virtual void SetResultBox(ResultBox box, const std::string& text) = 0;
    // Empties the run log (START does, before a run).
    virtual void ClearLog() = 0;
    // The run has ended: the worker has written its last line and made its last call. Called on
    // the worker thread; a front end that waits for it takes it to its own thread.
    virtual void RunEnded() {}
};

}  // namespace veltrix
