// The dialog's file work: the BIN, DIR and target-directory pickers, the image extraction and
// the partition combos.
#include <QMetaObject>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "diag/model_table.h"
#include "layout/partition_index.h"
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
    std::error_code error;
    const auto size = std::filesystem::file_size(bin, error);
    extractTotal_ = error ? 0 : size;
    extractRate_.Reset();
    c_.rate->clear();
    // The extraction's thread reports each record's position and its end to the GUI thread.
    auto onPosition = [this](uint64_t position) {
        QMetaObject::invokeMethod(
            this, [this, position] { ShowExtractionPosition(position); }, Qt::QueuedConnection);
    };
    auto onDone = [this] {
        QMetaObject::invokeMethod(
            this, [this] { OnExtractionDone(); }, Qt::QueuedConnection);
    };
    if (extraction_.Start(bin, PathFromUtf8(dirPath_.toStdString()), *this, onPosition, onDone)) {
        SetRunControlsEnabled();
    }
}

void CVeltrixDlg::ShowExtractionPosition(uint64_t position) {
    if (extractTotal_ == 0 || !extraction_.Running()) {
        return;
    }
    const double total = static_cast<double>(extractTotal_);
    const double done = static_cast<double>(std::min<uint64_t>(position, extractTotal_));
    const QString rate = extractRate_.Update(done, total, std::chrono::steady_clock::now());
    const int percent = static_cast<int>(done * 100 / total);
    c_.rate->setText(rate.isEmpty() ? QStringLiteral("Extract %1%").arg(percent)
                                    : QStringLiteral("Extract %1% · %2").arg(percent).arg(rate));
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
    const auto choices =
        engine_.PartitionChoices(PathFromUtf8(targetDir_.toStdString()));
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

}  // namespace veltrix::ui
