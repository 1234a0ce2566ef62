#pragma once
// What the engine and the image extraction need of their front end's run log: lines inserted and
// deleted at explicit positions, the newest line kept in view, and a blocking message box.
// Text is UTF-8.

#include <string>

namespace veltrix {

class LogView {
public:
    virtual ~LogView() = default;
    virtual void InsertLogLine(int position, const std::string& text) = 0;
    virtual void DeleteLogLine(int position) = 0;
    // Selects the last line of the list so the newest line is visible.
    virtual void SelectLastLogLine() = 0;
    // Shows a message box with an OK button and returns when the operator has closed it.
    virtual void ShowMessage(const std::string& text) = 0;
};

}  // namespace veltrix
