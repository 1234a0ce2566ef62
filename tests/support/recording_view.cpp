#include "tests/support/recording_view.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace veltrix::testing {

void RecordingView::InsertLogLine(int position, const std::string& text) {
    std::unique_lock lock(mutex_);
    if (holding_ && text.rfind(holdPrefix_, 0) == 0) {
        held_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !holding_; });
        held_ = false;
    }
    if (position < 0 || position > static_cast<int>(lines_.size())) {
        ADD_FAILURE() << "log line inserted at " << position << " in a list of " << lines_.size()
                      << ": " << text;
        return;
    }
    lines_.insert(lines_.begin() + position, text);
    changed_.notify_all();
}

void RecordingView::DeleteLogLine(int position) {
    std::lock_guard lock(mutex_);
    // Like a list box, a position past the end deletes nothing.
    if (position >= 0 && position < static_cast<int>(lines_.size())) {
        lines_.erase(lines_.begin() + position);
    }
}

void RecordingView::SelectLastLogLine() {
    std::lock_guard lock(mutex_);
    selected_ = static_cast<int>(lines_.size()) - 1;
}

void RecordingView::PushStatus(const std::string& text) {
    std::lock_guard lock(mutex_);
    statuses_.push_back(text);
}

void RecordingView::SetProgress(int percent) {
    std::lock_guard lock(mutex_);
    progress_.push_back(percent);
}

std::vector<std::string> RecordingView::Statuses() const {
    std::lock_guard lock(mutex_);
    return statuses_;
}

std::vector<int> RecordingView::ProgressValues() const {
    std::lock_guard lock(mutex_);
    return progress_;
}

void RecordingView::ShowMessage(const std::string& text) {
    std::lock_guard lock(mutex_);
    messages_.push_back(text);
}

void RecordingView::SetResultBox(ResultBox box, const std::string& text) {
    std::lock_guard lock(mutex_);
    results_[static_cast<int>(box)] = text;
}

std::vector<std::string> RecordingView::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

int RecordingView::CountLines(const std::string& text) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(lines_.begin(), lines_.end(), text));
}

int RecordingView::SelectedLine() const {
    std::lock_guard lock(mutex_);
    return selected_;
}

std::vector<std::string> RecordingView::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::string RecordingView::Result(ResultBox box) const {
    std::lock_guard lock(mutex_);
    return results_[static_cast<int>(box)];
}

void RecordingView::ClearLog() {
    std::lock_guard lock(mutex_);
    lines_.clear();
    selected_ = -1;
    statuses_.clear();
    progress_.clear();
    ended_ = false;
}

void RecordingView::RunEnded() {
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

bool RecordingView::WaitRunEnded(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return ended_; });
}

bool RecordingView::WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        for (const std::string& line : lines_) {
            if (line.rfind(prefix, 0) == 0) {
                return true;
            }
        }
        return false;
    });
}

void RecordingView::HoldAtLine(const std::string& prefix) {
    std::lock_guard lock(mutex_);
    holdPrefix_ = prefix;
    holding_ = true;
}

bool RecordingView::WaitUntilHeld(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return held_; });
}

void RecordingView::Release() {
    std::lock_guard lock(mutex_);
    holding_ = false;
    changed_.notify_all();
}

}  // namespace veltrix::testing
