#pragma once
// Editable drop-down combos as the dialog uses them: lists that keep added entries sorted, and a
// combo that tells its owner when the operator drops its list down, before the list shows.

#include <QComboBox>

namespace veltrix::ui {

// Adds `text` where a sorted list puts it (letter case ignored); entries inserted at an index
// with insertItem stay where they are put.
void AddSorted(QComboBox& combo, const QString& text);

// Selects entry `index`, or nothing (an empty edit field) for -1 or an index past the end.
void SelectIndex(QComboBox& combo, int index);

// The selected entry's index, or -1 when nothing is selected or the operator has typed a text
// that is not the selected entry's.
int SelectedIndex(const QComboBox& combo);

class DropDownCombo final : public QComboBox {
    Q_OBJECT
public:
    explicit DropDownCombo(QWidget* parent = nullptr);
    void showPopup() override;

Q_SIGNALS:
    // Emitted before the list is shown; a handler may refill it.
    void droppingDown();
};

}  // namespace veltrix::ui
