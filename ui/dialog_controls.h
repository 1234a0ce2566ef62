#pragma once
// The controls of the main window around its board panel, built and laid out in one place: the
// choices of a run (model, port, target directory, tests), START and STOP, the restore, and the
// image extraction. The window wires them.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <initializer_list>

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

    QLineEdit* bin = nullptr;
    QPushButton* binPick = nullptr;  // "..."
    QLineEdit* dir = nullptr;
    QPushButton* dirPick = nullptr;  // "..."
    QPushButton* extract = nullptr;
};

// Creates the controls as children of `dialog` and lays them out with `panel` (the board's
// results, verdict, log, status line and progress bar) under the tests. Every field has its
// label as buddy (its name for a screen reader, Alt+letter moves to it) and Tab follows the
// layout, row by row, then into the panel's controls in `panelTabOrder`.
DialogControls BuildDialogControls(QWidget& dialog, QWidget& panel,
                                   std::initializer_list<QWidget*> panelTabOrder);

}  // namespace veltrix::ui
