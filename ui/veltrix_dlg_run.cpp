// The dialog's test runs: START, STOP, and the run view the worker writes to.
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <chrono>

#include "diag/model_table.h"
#include "diag/prepare_run.h"
#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "layout/partition_index.h"
#include "ui/veltrix_dlg.h"

namespace veltrix::ui {
namespace {

// Status lines kept below the newest; older ones are dropped from the one-line list.
constexpr int kStatusLinesKept = 500;
// The text a run-log line carries, kept with the item; the item shows it without its line feed.
constexpr int kLineTextRole = Qt::UserRole;

QString Shown(const std::string& text) {
    QString shown = QString::fromStdString(text);
    while (shown.endsWith(QLatin1Char('\n')) || shown.endsWith(QLatin1Char('\r'))) {
        shown.chop(1);
    }
    return shown;
}

// The choices START hands to run preparation, as the controls hold them.
RunSelections ReadSelections(const DialogControls& c, const QString& targetDir) {
    RunSelections s;
    s.apCheck = c.apCheck->isChecked();
    s.emmcTest = c.emmcTest->isChecked();
    s.restoreBootImage = c.restoreBootImage->isChecked();
    s.sdramTest = c.sdramTest->isChecked();
    s.dump = c.dump->isChecked();
    s.model = c.model->currentText().toStdString();
    s.partitionLabel = c.partition->currentText().toStdString();
    s.restoreLabel = c.restorePartition->currentText().toStdString();
    s.option = c.option->currentText().toStdString();
    s.pmicOn = c.pmicOn->isChecked();
    s.targetDir = targetDir.toStdString();
    s.level = c.level->currentText().toStdString();
    return s;
}

QString EraseQuestion(const std::string& model) {
    const QString name = QString::fromStdString(model);
    return QStringLiteral(
               "%1: 전체 eMMC를 지웁니다. 계속하시겠습니까?  \n\nThis erases the whole "
               "eMMC of %1, not one partition. Continue?  ")
        .arg(name);
}

}  // namespace

template <typename F>
void CVeltrixDlg::OnGuiThread(F&& call) {
    if (QThread::currentThread() == thread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(this, std::forward<F>(call), Qt::BlockingQueuedConnection);
}

void CVeltrixDlg::InsertLogLine(int position, const std::string& text) {
    OnGuiThread([&] {
        const int row = std::clamp(position, 0, c_.runLog->count());
        auto* item = new QListWidgetItem(Shown(text));
        item->setData(kLineTextRole, QString::fromStdString(text));
        c_.runLog->insertItem(row, item);
    });
}

void CVeltrixDlg::DeleteLogLine(int position) {
    OnGuiThread([&] {
        if (position >= 0 && position < c_.runLog->count()) {
            delete c_.runLog->takeItem(position);
        }
    });
}

void CVeltrixDlg::SelectLastLogLine() {
    OnGuiThread([&] {
        if (c_.runLog->count() > 0) {
            c_.runLog->setCurrentRow(c_.runLog->count() - 1);
            c_.runLog->scrollToBottom();
        }
    });
}

void CVeltrixDlg::ShowMessage(const std::string& text) {
    OnGuiThread([&] { ShowMessageNow(QString::fromStdString(text)); });
}

void CVeltrixDlg::ShowMessageNow(const QString& text) {
    seams_.showMessage(this, text);
}

void CVeltrixDlg::PushStatus(const std::string& text) {
    OnGuiThread([&] {
        c_.statusLine->insertItem(0, QString::fromStdString(text));
        c_.statusLine->scrollToTop();
        while (c_.statusLine->count() > kStatusLinesKept) {
            delete c_.statusLine->takeItem(c_.statusLine->count() - 1);
        }
    });
}

void CVeltrixDlg::SetProgress(int percent) {
    OnGuiThread([&] {
        const int value = std::clamp(percent, 0, 100);
        c_.progress->setValue(value);
        c_.rate->setText(runRate_.Update(value, 100, std::chrono::steady_clock::now()));
    });
}

void CVeltrixDlg::SetResultBox(ResultBox box, const std::string& text) {
    OnGuiThread([&] {
        QLineEdit* edit = box == ResultBox::kAp     ? c_.apResult
                          : box == ResultBox::kEmmc ? c_.emmcResult
                                                    : c_.sdramResult;
        edit->setText(QString::fromStdString(text));
        QPalette palette = resultPalette_;
        if (text == kResultPass) {
            palette.setColor(QPalette::Text, QColor(0, 255, 0));
        } else if (text == kResultFail) {
            palette.setColor(QPalette::Text, QColor(255, 0, 0));
        }
        edit->setPalette(palette);
    });
}

void CVeltrixDlg::OnStart() {
    if (closing_) {
        return;
    }
    c_.statusLine->insertItem(0, QString());
    c_.statusLine->scrollToTop();
    c_.progress->setValue(0);
    if (RunInProgress(bench_)) {
        ShowMessageNow(QString::fromUtf8(kTestInProgressMessage.data(),
                                         qsizetype(kTestInProgressMessage.size())));
        return;
    }
    LoadPartitionIndex(bench_.index, PathFromUtf8(targetDir_.toStdString()), *this);
    if (bench_.index.imagePartitionCount == 0) {
        return;
    }
    const int prepared = PrepareRun(bench_, ReadSelections(c_, targetDir_),
                                    ParseComPort(c_.comPort->currentText().toStdString()));
    if (prepared >= 0 && !ConfirmPreparedRun()) {
        return;  // the previous run's log and boxes stay
    }
    ResetRunDisplay(bench_);
    c_.runLog->clear();
    if (prepared < 0) {
        const std::string_view message = PrepareRunMessage(prepared);
        if (!message.empty()) {
            ShowMessageNow(QString::fromUtf8(message.data(), qsizetype(message.size())));
        }
        return;
    }
    if (StartRun(bench_) != 0) {
        PushStatus("The test run could not be started.");
        return;
    }
    runRate_.Reset();
    c_.rate->clear();
    runWatch_.start();
    SetRunControlsEnabled();
}

bool CVeltrixDlg::ConfirmPreparedRun() {
    // Erase clears the whole flash whatever partition is chosen ("dump" has made it a read).
    const RunState& state = bench_.state;
    if (!state.emmcTest || state.emmcOption != kEmmcErase) {
        return true;
    }
    return seams_.askYesNo(this, EraseQuestion(state.model));
}

void CVeltrixDlg::OnStop() {
    if (RunInProgress(bench_)) {
        CancelRun(bench_);
        c_.stop->setEnabled(false);
    }
}

void CVeltrixDlg::OnRunWatch() {
    if (RunInProgress(bench_)) {
        return;
    }
    runWatch_.stop();
    // The worker has made its last call; collect its thread.
    JoinWorker(bench_);
    c_.rate->clear();
    SetRunControlsEnabled();
}

void CVeltrixDlg::SetRunControlsEnabled() {
    c_.stop->setEnabled(!closing_ && RunInProgress(bench_));
    // A run does not start while an image is being split into the target directory.
    c_.start->setEnabled(!closing_ && !extraction_.Running());
    c_.extract->setEnabled(!closing_ && !extraction_.Running());
}

}  // namespace veltrix::ui
