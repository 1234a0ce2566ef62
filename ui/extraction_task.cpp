#include "ui/extraction_task.h"

#include <charconv>
#include <string>
#include <system_error>

#include "layout/image_extraction.h"

namespace veltrix::ui {
namespace {

constexpr std::string_view kPositionMark = " -- 0x";

// Passes every call on, and reports the position of each record line.
class PositionView final : public LogView {
public:
    PositionView(LogView& view, const std::function<void(uint64_t)>& onPosition)
        : view_(view), onPosition_(onPosition) {}
    void InsertLogLine(int position, const std::string& text) override {
        view_.InsertLogLine(position, text);
        if (const auto reached = ExtractedPosition(text); reached && onPosition_) {
            onPosition_(*reached);
        }
    }
    void DeleteLogLine(int position) override { view_.DeleteLogLine(position); }
    void SelectLastLogLine() override { view_.SelectLastLogLine(); }
    void ShowMessage(const std::string& text) override { view_.ShowMessage(text); }

private:
    LogView& view_;
    const std::function<void(uint64_t)>& onPosition_;
};

}  // namespace

std::optional<uint64_t> ExtractedPosition(std::string_view line) {
    const size_t mark = line.rfind(kPositionMark);
    if (mark == std::string_view::npos) {
        return std::nullopt;
    }
    const char* first = line.data() + mark + kPositionMark.size();
    const char* last = line.data() + line.size();
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value, 16);
    if (error != std::errc() || end == last || *end != '_') {
        return std::nullopt;
    }
    return value;
}

ExtractionTask::~ExtractionTask() {
    Join();
}

bool ExtractionTask::Start(std::filesystem::path bin, std::filesystem::path dir, LogView& view,
                           std::function<void(uint64_t)> onPosition, std::function<void()> onDone) {
    if (running_) {
        return false;
    }
    Join();
    running_ = true;
    try {
        thread_ = std::thread([this, bin = std::move(bin), dir = std::move(dir), &view,
                               onPosition = std::move(onPosition), onDone = std::move(onDone)] {
            PositionView positions(view, onPosition);
            ExtractTotalImage(bin, dir, positions);
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
