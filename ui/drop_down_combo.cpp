#include "ui/drop_down_combo.h"

namespace veltrix::ui {

void AddSorted(QComboBox& combo, const QString& text) {
    int at = 0;
    while (at < combo.count() &&
           QString::compare(combo.itemText(at), text, Qt::CaseInsensitive) <= 0) {
        ++at;
    }
    combo.insertItem(at, text);
}

void SelectIndex(QComboBox& combo, int index) {
    combo.setCurrentIndex(index >= 0 && index < combo.count() ? index : -1);
    if (combo.currentIndex() < 0 && combo.isEditable()) {
        combo.setEditText(QString());
    }
}

int SelectedIndex(const QComboBox& combo) {
    const int index = combo.currentIndex();
    if (index < 0 || (combo.isEditable() && combo.currentText() != combo.itemText(index))) {
        return -1;
    }
    return index;
}

DropDownCombo::DropDownCombo(QWidget* parent) : QComboBox(parent) {}

void DropDownCombo::showPopup() {
    Q_EMIT droppingDown();
    QComboBox::showPopup();
}

}  // namespace veltrix::ui
