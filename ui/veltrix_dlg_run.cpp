// The window's test runs: START, STOP, a run's end, and the run log saved.
#include <QFile>

#include "diag/model_table.h"
#include "diag/prepare_run.h"
#include "diag/run_report.h"
#include "ui/veltrix_dlg.h"

namespace veltrix::ui {
namespace {

// The choices START hands to run preparation, as the controls hold them.
RunSelections ReadSelections(const DialogControls& c, const QString& targetDir, int readWindow) {
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
    s.readWindow = readWindow;
    return s;
}

}  // namespace

void CVeltrixDlg::OnStart() {
    if (closing_) {
        return;
    }
    if (panel_->InProgress()) {
        panel_->Start(ReadSelections(c_, targetDir_, stored_.readWindow), 0,
                      {});  // "Test in progress"
        return;
    }
    const int port = PortForStart();
    const int started = panel_->Start(
        ReadSelections(c_, targetDir_, stored_.readWindow), port, [&](const std::string& question) {
            return seams_.askYesNo(this, QString::fromStdString(question));
        });
    if (started == kErrorSuccess) {
        SetRunControlsEnabled();
    }
}

void CVeltrixDlg::OnStop() {
    if (panel_->InProgress()) {
        panel_->Stop();
        c_.stop->setEnabled(false);
    }
}

void CVeltrixDlg::OnRunEnded() {
    if (closing_) {
        close();
        return;
    }
    SetRunControlsEnabled();
    if (partitionsPending_) {
        ReloadPartitionChoices();
    }
}

void CVeltrixDlg::OnSaveRunLog() {
    const QString file = seams_.pickSaveFile(this, panel_->SuggestedLogName());
    if (file.isEmpty()) {
        return;
    }
    std::string reason;
    if (WriteWholeFile(PathFromUtf8(file.toStdString()), panel_->LogText().toStdString(),
                       &reason) != 0) {
        seams_.showMessage(this, QStringLiteral("The run log cannot be saved to %1 (%2).")
                                     .arg(file, QString::fromStdString(reason)));
    }
}

void CVeltrixDlg::SetRunControlsEnabled() {
    c_.stop->setEnabled(!closing_ && panel_->InProgress());
    // A run does not start while an image is being split into the target directory.
    c_.start->setEnabled(!closing_ && !extraction_.Running());
    c_.extract->setEnabled(!closing_ && !extraction_.Running());
}

}  // namespace veltrix::ui
