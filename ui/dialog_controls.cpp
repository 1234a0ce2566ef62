#include "ui/dialog_controls.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <vector>

#include "ui/window_look.h"

namespace veltrix::ui {
namespace {

// Room around the controls of a row for the focus ring, which is drawn outside them.
constexpr int kRingRoom = kFocusRingWidth + 1;

QComboBox* MakeCombo(QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}

DropDownCombo* MakeDropDownCombo(QWidget* parent) {
    auto* combo = new DropDownCombo(parent);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setMinimumContentsLength(10);
    return combo;
}

// A button pressed by a click, Space or Enter while it has the focus; Enter in a field presses
// none (the window sees to Enter, as the button is no default).
QPushButton* MakeButton(const QString& caption, QWidget* parent, const QString& name = QString()) {
    auto* button = new QPushButton(caption, parent);
    button->setAutoDefault(false);
    if (!name.isEmpty()) {
        button->setAccessibleName(name);
        button->setToolTip(name);
    }
    return button;
}

QLineEdit* MakeDisplay(QWidget* parent) {
    auto* display = new QLineEdit(parent);
    display->setReadOnly(true);
    return display;
}

// A label naming `field`: its buddy, so Alt+letter moves there, and the field's name for a screen
// reader (an editable combo would otherwise be named by the text in it).
QLabel* LabelFor(const QString& text, QWidget* field, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(field);
    field->setAccessibleName(QString(text).remove(QLatin1Char('&')));
    return label;
}

QWidget* TopRow(DialogControls& c, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* grid = new QGridLayout(row);
    grid->setContentsMargins(kRingRoom, kRingRoom, kRingRoom, kRingRoom);
    c.model = MakeCombo(row);
    c.model->setMinimumContentsLength(18);
    c.comPort = MakeDropDownCombo(row);
    c.targetDir = MakeDisplay(row);
    c.targetDirPick = MakeButton(QStringLiteral(".."), row, QStringLiteral("Choose Target Dir"));
    c.start = MakeButton(QStringLiteral("START"), row);
    c.stop = MakeButton(QStringLiteral("STOP"), row);
    c.stop->setEnabled(false);
    grid->addWidget(LabelFor(QStringLiteral("AP &Chipset"), c.model, row), 0, 0);
    grid->addWidget(c.model, 0, 1);
    grid->addWidget(LabelFor(QStringLiteral("Com &Port"), c.comPort, row), 0, 2);
    grid->addWidget(c.comPort, 0, 3);
    grid->addWidget(c.start, 0, 4);
    grid->addWidget(LabelFor(QStringLiteral("&Target Dir"), c.targetDir, row), 1, 0);
    grid->addWidget(c.targetDir, 1, 1, 1, 3);
    grid->addWidget(c.targetDirPick, 1, 4);
    grid->addWidget(c.stop, 2, 4);
    grid->setColumnStretch(1, 1);
    return row;
}

QGroupBox* TestGroup(DialogControls& c, QWidget* parent) {
    auto* group = new QGroupBox(QStringLiteral("Veltrix Test"), parent);
    auto* grid = new QGridLayout(group);
    c.apCheck = new QCheckBox(QStringLiteral("AP check"), group);
    c.emmcTest = new QCheckBox(QStringLiteral("EMMC TEST"), group);
    c.dump = new QCheckBox(QStringLiteral("dump"), group);
    c.partition = MakeDropDownCombo(group);
    c.option = MakeCombo(group);
    c.sdramTest = new QCheckBox(QStringLiteral("SDRAM TEST"), group);
    c.level = MakeCombo(group);
    c.pmicOn = new QCheckBox(QStringLiteral("PMIC ON"), group);
    grid->addWidget(c.apCheck, 0, 0);
    grid->addWidget(c.emmcTest, 1, 0);
    grid->addWidget(c.dump, 1, 1);
    grid->addWidget(LabelFor(QStringLiteral("P&artition"), c.partition, group), 2, 0);
    grid->addWidget(c.partition, 2, 1);
    grid->addWidget(LabelFor(QStringLiteral("&Option"), c.option, group), 3, 0);
    grid->addWidget(c.option, 3, 1);
    grid->addWidget(c.sdramTest, 4, 0);
    grid->addWidget(LabelFor(QStringLiteral("&Level"), c.level, group), 5, 0);
    grid->addWidget(c.level, 5, 1);
    grid->addWidget(c.pmicOn, 6, 0);
    grid->setColumnStretch(1, 1);
    return group;
}

QGroupBox* RestoreGroup(DialogControls& c, QWidget* parent) {
    auto* restore = new QGroupBox(QStringLiteral("Restore Device"), parent);
    auto* grid = new QGridLayout(restore);
    c.restoreBootImage = new QCheckBox(QStringLiteral("RESTORE BOOT IMG"), restore);
    c.restorePartition = MakeDropDownCombo(restore);
    grid->addWidget(c.restoreBootImage, 0, 0, 1, 2);
    grid->addWidget(LabelFor(QStringLiteral("&Restore partition"), c.restorePartition, restore), 1,
                    0);
    grid->addWidget(c.restorePartition, 1, 1);
    grid->setColumnStretch(1, 1);
    return restore;
}

QGroupBox* ExtractionGroup(DialogControls& c, QWidget* parent) {
    auto* group = new QGroupBox(QStringLiteral("Image Extraction"), parent);
    auto* grid = new QGridLayout(group);
    c.bin = MakeDisplay(group);
    c.binPick = MakeButton(QStringLiteral("..."), group, QStringLiteral("Choose BIN file"));
    c.dir = MakeDisplay(group);
    c.dirPick = MakeButton(QStringLiteral("..."), group, QStringLiteral("Choose DIR folder"));
    c.extract = MakeButton(QStringLiteral("Extract"), group);
    grid->addWidget(LabelFor(QStringLiteral("&BIN"), c.bin, group), 0, 0);
    grid->addWidget(c.bin, 0, 1);
    grid->addWidget(c.binPick, 0, 2);
    grid->addWidget(LabelFor(QStringLiteral("&DIR"), c.dir, group), 1, 0);
    grid->addWidget(c.dir, 1, 1);
    grid->addWidget(c.dirPick, 1, 2);
    grid->addWidget(c.extract, 2, 1, 1, 2, Qt::AlignRight);
    grid->setColumnStretch(1, 1);
    return group;
}

// The right column beside the tests: the restore, then the extraction.
QWidget* RightColumn(DialogControls& c, QWidget* parent) {
    auto* column = new QWidget(parent);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);  // the groups give the focus ring its room
    layout->addWidget(RestoreGroup(c, column));
    layout->addWidget(ExtractionGroup(c, column));
    layout->addStretch();
    return column;
}

void SetTabOrder(const DialogControls& c, std::initializer_list<QWidget*> panelOrder) {
    // Row by row: the top rows, the tests, the restore and the extraction beside them.
    std::vector<QWidget*> order{c.model, c.comPort, c.start, c.targetDir, c.targetDirPick};
    order.insert(order.end(), {c.stop, c.apCheck, c.emmcTest, c.dump, c.partition, c.option});
    order.insert(order.end(), {c.sdramTest, c.level, c.pmicOn, c.restoreBootImage});
    order.insert(order.end(), {c.restorePartition, c.bin, c.binPick, c.dir, c.dirPick, c.extract});
    order.insert(order.end(), panelOrder.begin(), panelOrder.end());
    for (size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

}  // namespace

DialogControls BuildDialogControls(QWidget& dialog, QWidget& panel,
                                   std::initializer_list<QWidget*> panelTabOrder) {
    DialogControls c;
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(TopRow(c, &dialog));
    auto* middle = new QHBoxLayout;
    middle->addWidget(TestGroup(c, &dialog), 1);
    middle->addWidget(RightColumn(c, &dialog), 1);
    layout->addLayout(middle);
    layout->addWidget(&panel, 1);
    SetTabOrder(c, panelTabOrder);
    return c;
}

}  // namespace veltrix::ui
