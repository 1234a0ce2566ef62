// The dialog's file work: the BIN, DIR and target-directory pickers, the image extraction and
// the partition combos.
#include <QDir>
#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "diag/model_table.h"
#include "diag/prepare_run.h"
#include "diag/run_report.h"
#include "layout/partition_index.h"
#include "link/port_list.h"
#include "ui/port_choices.h"
#include "ui/run_records.h"
#include "ui/veltrix_dlg.h"

namespace veltrix::ui {

void CVeltrixDlg::OnPickBin() {
    binPath_ = seams_.pickFile(this);
    // The display shows the path Extract will use: empty after a cancel.
    c_.bin->setText(binPath_);
    if (binPath_.isEmpty()) {
        seams_.showMessage(this, QString::fromUtf8(kFilePickCancelled));
    }
}

void CVeltrixDlg::OnPickDir() {
    const QString chosen = seams_.pickFolder(this, dirPath_);
    if (!chosen.isEmpty()) {
        dirPath_ = chosen;
        c_.dir->setText(dirPath_);
    }
}

void CVeltrixDlg::OnPickTargetDir() {
    const QString chosen = seams_.pickFolder(this, targetDir_);
    if (!chosen.isEmpty()) {
        targetDir_ = chosen;
        c_.targetDir->setText(targetDir_);
        ReloadPartitionChoices();
    }
}

void CVeltrixDlg::OnExtract() {
    if (closing_ || extraction_.Running()) {
        return;
    }
    const std::filesystem::path bin = PathFromUtf8(binPath_.toStdString());
    panel_->BeginExtraction();
    // The extraction's thread reports its progress and its end to the GUI thread.
    auto onProgress = [this](uint64_t done, uint64_t total) {
        QMetaObject::invokeMethod(
            this, [this, done, total] { panel_->ShowExtractionProgress(done, total); },
            Qt::QueuedConnection);
    };
    auto onDone = [this] {
        QMetaObject::invokeMethod(
            this, [this] { OnExtractionDone(); }, Qt::QueuedConnection);
    };
    if (extraction_.Start(bin, PathFromUtf8(dirPath_.toStdString()), *panel_, onProgress, onDone)) {
        SetRunControlsEnabled();
    } else {
        panel_->EndExtraction();
    }
}

void CVeltrixDlg::OnExtractionDone() {
    if (extraction_.Running()) {
        return;
    }
    extraction_.Join();
    panel_->EndExtraction();
    if (closing_) {
        close();
        return;
    }
    SetRunControlsEnabled();
    // An extraction into the target directory has just rewritten its partition.txt.
    if (!dirPath_.isEmpty() && QDir(dirPath_) == QDir(targetDir_)) {
        ReloadPartitionChoices();
    }
}

namespace {

// Refills the combo with `labels`, keeping its text: the field says what the next run uses
// (empty: every partition), and the first entry added to an empty list would otherwise become
// the choice.
void Refill(QComboBox& combo, const std::vector<std::string>& labels) {
    const QString kept = combo.currentText();
    combo.clear();
    for (const std::string& label : labels) {
        AddSorted(combo, QString::fromStdString(label));
    }
    const int match = combo.findText(kept, Qt::MatchExactly | Qt::MatchCaseSensitive);
    combo.setCurrentIndex(match);
    if (match < 0) {
        combo.setEditText(kept);
    }
}

}  // namespace

void CVeltrixDlg::OnPartitionDropDown(QComboBox& combo) {
    // FillPartitionChoices loads the index only while it is empty, which it never is during a
    // run (a run does not start on an empty index), so a running worker's index stays put.
    if (const auto choices = engine().PartitionChoices(PathFromUtf8(targetDir_.toStdString()))) {
        Refill(combo, *choices);
    }
}

void CVeltrixDlg::ReloadPartitionChoices() {
    if (panel_->InProgress()) {
        partitionsPending_ = true;  // the worker reads the index; after the run
        return;
    }
    partitionsPending_ = false;
    std::string problem;
    const auto choices =
        engine().ReloadPartitionChoices(PathFromUtf8(targetDir_.toStdString()), &problem);
    for (QComboBox* combo :
         {static_cast<QComboBox*>(c_.partition), static_cast<QComboBox*>(c_.restorePartition)}) {
        Refill(*combo, choices ? *choices : std::vector<std::string>{});
    }
    if (!choices) {
        panel_->PushStatus(QStringLiteral("No partitions from %1: %2")
                               .arg(targetDir_, QString::fromStdString(EnglishPart(problem)))
                               .toStdString());
    }
}

void CVeltrixDlg::OnPortDropDown() {
    const std::vector<PortInfo> ports = ListSerialPorts();
    RefreshPortChoices(*c_.comPort, ports);
    // Nothing behind any port: say what to do. (A device that is not in download mode may be a
    // board in another mode, or the simulated board: the list shows what it is.)
    if (std::none_of(ports.begin(), ports.end(), [](const PortInfo& port) {
            return port.usbId == kDownloadModeUsbId || !port.target.empty();
        })) {
        panel_->PushStatus(kNoBoardFound);
    }
}

int CVeltrixDlg::PortForStart() {
    const int chosen = ParseComPort(c_.comPort->currentText().toStdString());
    const int offer = DownloadModePortToOffer(chosen, ListSerialPorts());
    if (offer == 0 ||
        !seams_.askYesNo(this,
                         QStringLiteral("COM %1에 연결된 장치가 없습니다. 다운로드 모드의 보드가 "
                                        "COM %2에 있습니다. COM %2을(를) 사용하시겠습니까?  "
                                        "\n\nCOM %1 has nothing behind it; the board in "
                                        "download mode is at COM %2. Use COM %2?  ")
                             .arg(chosen)
                             .arg(offer))) {
        return chosen;
    }
    c_.comPort->setCurrentIndex(offer - 1);
    return offer;
}

void CVeltrixDlg::OnOpenRunRecords() {
    std::error_code ec;
    std::filesystem::create_directories(RunRecordsFolder(), ec);
    seams_.openFolder(QString::fromStdString(RunRecordsFolder().string()));
}

}  // namespace veltrix::ui
