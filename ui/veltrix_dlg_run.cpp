// The dialog's test runs: START, STOP, and the run view the worker writes to.
#include <QClipboard>
#include <QGuiApplication>
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <chrono>

#include "diag/model_table.h"
#include "diag/prepare_run.h"
#include "layout/partition_index.h"
#include "ui/result_colours.h"
#include "ui/run_records.h"
#include "ui/veltrix_dlg.h"

namespace veltrix::ui {
namespace {

// Status lines kept below the newest; older ones are dropped from the one-line list.
constexpr int kStatusLinesKept = 500;
// The text a run-log line carries, kept with the item; the item shows it without its line feed.
constexpr int kLineTextRole = Qt::UserRole;

// The text a run-log line carries, line feed included.
QString LineText(const QListWidgetItem& item) {
    return item.data(kLineTextRole).toString();
}

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
            c_.runLog->setCurrentRow(c_.runLog->count() - 1, QItemSelectionModel::ClearAndSelect);
            c_.runLog->scrollToBottom();
        }
    });
}

void CVeltrixDlg::ShowMessage(const std::string& text) {
    if (QThread::currentThread() == thread()) {
        // START's own boxes (the index reader's, a refusal's): modal, as ever.
        ShowMessageNow(QString::fromStdString(text));
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
    OnGuiThread([&] { c_.progress->setValue(std::clamp(percent, 0, 100)); });
}

void CVeltrixDlg::SetTransfer(uint64_t done, uint64_t total) {
    OnGuiThread([&] {
        c_.rate->setText(QString::fromStdString(
            runMeter_.Update(done, total, std::chrono::steady_clock::now())));
    });
}

void CVeltrixDlg::SetResultBox(ResultBox box, const std::string& text) {
    OnGuiThread([&] {
        QLineEdit* edit = box == ResultBox::kAp     ? c_.apResult
                          : box == ResultBox::kEmmc ? c_.emmcResult
                                                    : c_.sdramResult;
        edit->setText(QString::fromStdString(text));
        // PASS and FAIL fill the box (green with dark text, red with white text); N/T keeps the
        // dialog's colours.
        ResultColours colours;
        edit->setPalette(ResultColoursFor(edit->text(), &colours) ? Filled(resultPalette_, colours)
                                                                  : resultPalette_);
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
    if (engine_.InProgress()) {
        engine_.Start(ReadSelections(c_, targetDir_), 0);  // "Test in progress"; nothing changes
        return;
    }
    const int port = PortForStart();
    RunSelections selections = ReadSelections(c_, targetDir_);
    ShowVerdict({});
    const int started = engine_.Start(selections, port, [&](const std::string& question) {
        return seams_.askYesNo(this, QString::fromStdString(question));
    });
    if (started == kErrorNotEnoughMemory) {
        PushStatus("The test run could not be started.");
    }
    if (started != kErrorSuccess) {
        return;
    }
    runMeter_.Reset();
    c_.rate->clear();
    c_.progress->setPalette(progressPalette_);
    SetRunControlsEnabled();
}

void CVeltrixDlg::OnStop() {
    if (engine_.InProgress()) {
        engine_.Cancel();
        c_.stop->setEnabled(false);
        if (runBox_) {
            runBox_->close();  // a run's message box no longer holds the run
        }
    }
}

void CVeltrixDlg::OnRunEnded() {
    if (engine_.InProgress()) {
        return;  // a later run has started meanwhile; its own end comes
    }
    // The worker has made its last call; collect its thread.
    engine_.Join();
    const RunVerdict verdict = VerdictOf(engine_.Record());
    ShowVerdict(verdict, AdviceOf(engine_.Record()));
    SaveRecordOfRun();
    if (closing_) {
        close();
        return;
    }
    c_.rate->clear();
    SetRunControlsEnabled();
}

void CVeltrixDlg::ShowVerdict(const RunVerdict& verdict, const std::vector<std::string>& advice) {
    c_.verdict->setText(QString::fromStdString(verdict.text));
    QStringList lines;
    for (const std::string& line : advice) {
        lines << QString::fromStdString(line);
    }
    c_.advice->setText(lines.join(QLatin1Char('\n')));
    c_.advice->setVisible(!lines.isEmpty());
    if (verdict.kind == RunVerdict::Kind::kNone) {
        c_.verdict->setPalette(verdictPalette_);
        c_.advice->setPalette(verdictPalette_);
        return;
    }
    const ResultColours colours = VerdictColours(verdict.kind);
    c_.verdict->setPalette(Filled(verdictPalette_, colours));
    c_.advice->setPalette(Filled(verdictPalette_, colours));
    // The status line and the bar end with the outcome too, not with an earlier step's words.
    c_.statusLine->insertItem(0, QString::fromStdString(verdict.text));
    c_.statusLine->scrollToTop();
    if (verdict.kind != RunVerdict::Kind::kPass) {
        QPalette bar = progressPalette_;
        bar.setColor(QPalette::Highlight, colours.background);
        c_.progress->setPalette(bar);
    }
}

void CVeltrixDlg::SaveRecordOfRun() {
    std::string reason;
    lastRecord_ = SaveRunRecord(engine_.Report(), &reason);
    if (lastRecord_.empty()) {
        c_.statusLine->insertItem(0, QStringLiteral("The run record cannot be written: %1")
                                         .arg(QString::fromStdString(reason)));
    }
}

std::vector<std::string> CVeltrixDlg::RunLogLines() const {
    std::vector<std::string> lines;
    for (int row = 0; row < c_.runLog->count(); ++row) {
        lines.push_back(LineText(*c_.runLog->item(row)).toStdString());
    }
    return lines;
}

void CVeltrixDlg::OnCopyRunLog() {
    QString text;
    for (int row = 0; row < c_.runLog->count(); ++row) {
        const QListWidgetItem* item = c_.runLog->item(row);
        if (item->isSelected()) {
            text += LineText(*item);
        }
    }
    QGuiApplication::clipboard()->setText(text);
}

void CVeltrixDlg::OnSaveRunLog() {
    const QString file = seams_.pickSaveFile(this);
    if (file.isEmpty()) {
        return;
    }
    std::string text;
    for (const std::string& line : RunLogLines()) {
        text += line;
    }
    std::string reason;
    if (WriteWholeFile(PathFromUtf8(file.toStdString()), text, &reason) != 0) {
        ShowMessageNow(QStringLiteral("The run log cannot be saved to %1 (%2).")
                           .arg(file, QString::fromStdString(reason)));
    }
}

void CVeltrixDlg::SetRunControlsEnabled() {
    c_.stop->setEnabled(!closing_ && engine_.InProgress());
    // A run does not start while an image is being split into the target directory.
    c_.start->setEnabled(!closing_ && !extraction_.Running());
    c_.extract->setEnabled(!closing_ && !extraction_.Running());
}

}  // namespace veltrix::ui
