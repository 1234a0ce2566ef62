// The dialog's test runs: START, STOP, and the run view the worker writes to.
#include <QMetaObject>
#include <algorithm>
#include <chrono>

#include "diag/model_table.h"
#include "diag/prepare_run.h"
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

void CVeltrixDlg::ClearLog() {
    OnGuiThread([&] { c_.runLog->clear(); });
}

void CVeltrixDlg::RunEnded() {
    // The worker's last call: the window takes it up on its own thread, later.
    QMetaObject::invokeMethod(this, &CVeltrixDlg::OnRunEnded, Qt::QueuedConnection);
}

void CVeltrixDlg::OnStart() {
    if (closing_) {
        return;
    }
    const RunSelections selections = ReadSelections(c_, targetDir_);
    const int started = engine_.Start(
        selections, ParseComPort(c_.comPort->currentText().toStdString()),
        [&] { return seams_.askYesNo(this, EraseQuestion(selections.model)); });
    if (started == kErrorNotEnoughMemory) {
        PushStatus("The test run could not be started.");
    }
    if (started != kErrorSuccess) {
        return;
    }
    runRate_.Reset();
    c_.rate->clear();
    SetRunControlsEnabled();
}

void CVeltrixDlg::OnStop() {
    if (engine_.InProgress()) {
        engine_.Cancel();
        c_.stop->setEnabled(false);
    }
}

void CVeltrixDlg::OnRunEnded() {
    if (engine_.InProgress()) {
        return;  // a later run has started meanwhile; its own end comes
    }
    // The worker has made its last call; collect its thread.
    engine_.Join();
    if (closing_) {
        close();
        return;
    }
    c_.rate->clear();
    SetRunControlsEnabled();
}

void CVeltrixDlg::SetRunControlsEnabled() {
    c_.stop->setEnabled(!closing_ && engine_.InProgress());
    // A run does not start while an image is being split into the target directory.
    c_.start->setEnabled(!closing_ && !extraction_.Running());
    c_.extract->setEnabled(!closing_ && !extraction_.Running());
}

}  // namespace veltrix::ui
