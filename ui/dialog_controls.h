#pragma once
// The controls of the main dialog, built and laid out in one place; the dialog wires them.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include "ui/drop_down_combo.h"

namespace veltrix::ui {

struct DialogControls {
    QComboBox* model = nullptr;        // "AP Chipset"
    DropDownCombo* comPort = nullptr;  // refilled with what is behind each port when it opens
    QLineEdit* targetDir = nullptr;
    QPushButton* targetDirPick = nullptr;  // ".."
    QPushButton* start = nullptr;
    QPushButton* stop = nullptr;

    QCheckBox* apCheck = nullptr;
    QCheckBox* emmcTest = nullptr;
    QCheckBox* dump = nullptr;
    DropDownCombo* partition = nullptr;
    QComboBox* option = nullptr;
    QCheckBox* sdramTest = nullptr;
    QComboBox* level = nullptr;
    QCheckBox* pmicOn = nullptr;
    QCheckBox* restoreBootImage = nullptr;
    DropDownCombo* restorePartition = nullptr;

    QLineEdit* apResult = nullptr;
    QLineEdit* emmcResult = nullptr;
    QLineEdit* sdramResult = nullptr;

    // The run's outcome at a glance: PASS, FAIL with what failed, or ABORTED with its reason.
    QLabel* verdict = nullptr;
    // Under it: what the operator must do now (restore partitions, power-cycle the board).
    QLabel* advice = nullptr;

    QListWidget* runLog = nullptr;
    QListWidget* statusLine = nullptr;
    QLabel* rate = nullptr;  // rate and time left of a long read or extraction
    QProgressBar* progress = nullptr;

    QLineEdit* bin = nullptr;
    QPushButton* binPick = nullptr;  // "..."
    QLineEdit* dir = nullptr;
    QPushButton* dirPick = nullptr;  // "..."
    QPushButton* extract = nullptr;
};

// Creates the controls as children of `dialog` and lays them out.
DialogControls BuildDialogControls(QWidget& dialog);

}  // namespace veltrix::ui
