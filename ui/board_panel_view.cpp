// The board panel as the engine's run view: what the worker writes, carried to the GUI thread.
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <chrono>

#include "ui/board_panel.h"
#include "ui/result_colours.h"
#include "ui/window_wording.h"

namespace veltrix::ui {
namespace {

// Status lines kept below the newest; older ones are dropped from the one-line list.
constexpr int kStatusLinesKept = 500;

}  // namespace

void BoardPanel::InsertLogLine(int position, const std::string& text) {
    OnGuiThread(
        [&] { c_.runLog->InsertLine(position, WindowWording(QString::fromStdString(text))); });
}

void BoardPanel::DeleteLogLine(int position) {
    OnGuiThread([&] { c_.runLog->DeleteLine(position); });
}

void BoardPanel::SelectLastLogLine() {
    // The newest line comes into view; nothing is selected (a selected line reads worse).
    OnGuiThread([&] { c_.runLog->ShowNewest(); });
}

void BoardPanel::ShowMessage(const std::string& text) {
    if (QThread::currentThread() == thread()) {
        // START's own boxes (the index reader's, a refusal's) and the extraction's: modal.
        seams_.showMessage(this, QString::fromStdString(text));
        return;
    }
    // A run's box does not block the window: STOP and the close button stay usable. The worker
    // waits until the box has gone (STOP closes it).
    const GuiBridge::Signal closed = bridge_.MakeSignal();
    OnGuiThread([&] {
        runBox_ = seams_.showRunMessage(this, QString::fromStdString(text),
                                        [this, closed] { bridge_.Raise(closed); });
    });
    bridge_.WaitFor(closed);
}

void BoardPanel::PushStatus(const std::string& text) {
    OnGuiThread([&] {
        c_.statusLine->insertItem(0, WindowWording(QString::fromStdString(text)));
        c_.statusLine->scrollToTop();
        while (c_.statusLine->count() > kStatusLinesKept) {
            delete c_.statusLine->takeItem(c_.statusLine->count() - 1);
        }
    });
}

void BoardPanel::SetProgress(int percent) {
    OnGuiThread([&] {
        if (c_.progress->maximum() != 100) {
            ShowWait(0, 0);
        }
        c_.progress->setValue(std::clamp(percent, 0, 100));
    });
}

void BoardPanel::SetTransfer(uint64_t done, uint64_t total) {
    OnGuiThread([&] {
        SetRate(QString::fromStdString(
            runMeter_.Update(done, total, std::chrono::steady_clock::now())));
    });
}

// The wait counts down on the bar ("12 s left") instead of leaving the last step's 100% there;
// when it is over the bar is back at 0%, for the steps after it.
void BoardPanel::ShowWait(int secondsLeft, int seconds) {
    OnGuiThread([&] {
        if (secondsLeft <= 0 || seconds <= 0) {
            c_.progress->setRange(0, 100);
            c_.progress->setFormat(QStringLiteral("%p%"));
            c_.progress->setValue(0);
            return;
        }
        c_.progress->setRange(0, seconds);
        c_.progress->setFormat(QStringLiteral("%v s left"));
        c_.progress->setValue(std::min(secondsLeft, seconds));
    });
}

void BoardPanel::SetResultBox(ResultBox box, const std::string& text) {
    OnGuiThread([&] {
        QLineEdit* edit = box == ResultBox::kAp     ? c_.apResult
                          : box == ResultBox::kEmmc ? c_.emmcResult
                                                    : c_.sdramResult;
        edit->setText(QString::fromStdString(text));
        // PASS and FAIL fill the box (green with dark text, red with white text); N/T keeps the
        // window's colours.
        ResultColours colours;
        edit->setPalette(ResultColoursFor(edit->text(), &colours) ? Filled(resultPalette_, colours)
                                                                  : resultPalette_);
    });
}

void BoardPanel::ClearLog() {
    OnGuiThread([&] { c_.runLog->ClearLines(); });
}

void BoardPanel::RunEnded() {
    // The worker's last call: the panel takes it up on its own thread, later.
    QMetaObject::invokeMethod(this, &BoardPanel::OnRunEnded, Qt::QueuedConnection);
}

}  // namespace veltrix::ui
