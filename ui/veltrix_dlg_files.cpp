// The dialog's file work: the BIN, DIR and target-directory pickers, the image extraction and
// the partition combos.
#include <QMetaObject>
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
        ShowMessageNow(QString::fromUtf8(kFilePickCancelled));
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
    }
}

void CVeltrixDlg::OnExtract() {
    if (closing_ || extraction_.Running()) {
        return;
    }
    const std::filesystem::path bin = PathFromUtf8(binPath_.toStdString());
    extractMeter_.Reset();
    c_.rate->clear();
    c_.progress->setValue(0);
    // The extraction's thread reports its progress and its end to the GUI thread.
    auto onProgress = [this](uint64_t done, uint64_t total) {
        QMetaObject::invokeMethod(
            this, [this, done, total] { ShowExtractionProgress(done, total); },
            Qt::QueuedConnection);
    };
    auto onDone = [this] {
        QMetaObject::invokeMethod(
            this, [this] { OnExtractionDone(); }, Qt::QueuedConnection);
    };
    if (extraction_.Start(bin, PathFromUtf8(dirPath_.toStdString()), *this, onProgress, onDone)) {
        SetRunControlsEnabled();
    }
}

void CVeltrixDlg::ShowExtractionProgress(uint64_t done, uint64_t total) {
    if (!extraction_.Running() || total == 0) {
        return;
    }
    const int percent = static_cast<int>(done * 100 / total);
    c_.progress->setValue(percent);
    const std::string rate = extractMeter_.Update(done, total, std::chrono::steady_clock::now());
    c_.rate->setText(
        rate.empty()
            ? QStringLiteral("Extract %1%").arg(percent)
            : QStringLiteral("Extract %1% · %2").arg(percent).arg(QString::fromStdString(rate)));
}

void CVeltrixDlg::OnExtractionDone() {
    if (extraction_.Running()) {
        return;
    }
    extraction_.Join();
    if (closing_) {
        close();
        return;
    }
    c_.rate->clear();
    SetRunControlsEnabled();
}

void CVeltrixDlg::OnPartitionDropDown(QComboBox& combo) {
    // FillPartitionChoices loads the index only while it is empty, which it never is during a
    // run (a run does not start on an empty index), so a running worker's index stays put.
    const auto choices = engine_.PartitionChoices(PathFromUtf8(targetDir_.toStdString()));
    if (!choices) {
        return;
    }
    // The field says what the next run uses (empty: every partition), so a refill keeps its
    // text: the first entry added to an empty list would otherwise become the choice.
    const QString kept = combo.currentText();
    combo.clear();
    for (const std::string& label : *choices) {
        AddSorted(combo, QString::fromStdString(label));
    }
    const int match = combo.findText(kept, Qt::MatchExactly | Qt::MatchCaseSensitive);
    combo.setCurrentIndex(match);
    if (match < 0) {
        combo.setEditText(kept);
    }
}

void CVeltrixDlg::OnPortDropDown() {
    RefreshPortChoices(*c_.comPort, ListSerialPorts());
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
