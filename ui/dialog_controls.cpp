#include "ui/dialog_controls.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace veltrix::ui {
namespace {

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

QPushButton* MakeButton(const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    // Enter in a field must not press a button.
    button->setAutoDefault(false);
    return button;
}

QLineEdit* MakeDisplay(QWidget* parent) {
    auto* display = new QLineEdit(parent);
    display->setReadOnly(true);
    return display;
}

QLineEdit* MakeResultBox(QWidget* parent) {
    auto* box = MakeDisplay(parent);
    box->setAlignment(Qt::AlignCenter);
    // Until it says PASS or FAIL (then it is filled), a result box has the dialog's background.
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    box->setPalette(palette);
    QFont font = box->font();
    font.setBold(true);
    box->setFont(font);
    return box;
}

// A list box exactly one line high: its newest line shows whole, and nothing of the one below.
QListWidget* MakeOneLineList(QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setUniformItemSizes(true);
    list->addItem(QStringLiteral("Xg"));
    const int row = list->sizeHintForRow(0);
    list->clear();
    list->setFixedHeight(row + 2 * list->frameWidth());
    return list;
}

// The verdict banner: large bold text on a filled background, readable from a step away.
QLabel* MakeVerdict(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignCenter);
    label->setAutoFillBackground(true);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 2.2);
    label->setFont(font);
    label->setMinimumHeight(label->fontMetrics().height() + 12);
    label->setWordWrap(true);
    return label;
}

// The banner's advice line: bold, wrapped, hidden while there is nothing to do.
QLabel* MakeAdvice(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignCenter);
    label->setAutoFillBackground(true);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    label->setWordWrap(true);
    label->setVisible(false);
    return label;
}

QWidget* TopRow(DialogControls& c, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* grid = new QGridLayout(row);
    grid->setContentsMargins(0, 0, 0, 0);
    c.model = MakeCombo(row);
    c.model->setMinimumContentsLength(18);
    c.comPort = MakeDropDownCombo(row);
    c.targetDir = MakeDisplay(row);
    c.targetDirPick = MakeButton(QStringLiteral(".."), row);
    c.start = MakeButton(QStringLiteral("START"), row);
    c.stop = MakeButton(QStringLiteral("STOP"), row);
    c.stop->setEnabled(false);
    grid->addWidget(new QLabel(QStringLiteral("AP Chipset"), row), 0, 0);
    grid->addWidget(c.model, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Com Port"), row), 0, 2);
    grid->addWidget(c.comPort, 0, 3);
    grid->addWidget(c.start, 0, 4);
    grid->addWidget(new QLabel(QStringLiteral("Target Dir"), row), 1, 0);
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
    grid->addWidget(new QLabel(QStringLiteral("Partition"), group), 2, 0);
    grid->addWidget(c.partition, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Option"), group), 3, 0);
    grid->addWidget(c.option, 3, 1);
    grid->addWidget(c.sdramTest, 4, 0);
    grid->addWidget(new QLabel(QStringLiteral("Level"), group), 5, 0);
    grid->addWidget(c.level, 5, 1);
    grid->addWidget(c.pmicOn, 6, 0);
    return group;
}

QWidget* RightColumn(DialogControls& c, QWidget* parent) {
    auto* column = new QWidget(parent);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* results = new QGroupBox(QStringLiteral("Test Results"), column);
    auto* grid = new QGridLayout(results);
    c.apResult = MakeResultBox(results);
    c.emmcResult = MakeResultBox(results);
    c.sdramResult = MakeResultBox(results);
    QLineEdit* const boxes[] = {c.apResult, c.emmcResult, c.sdramResult};
    const char* captions[] = {"AP", "EMMC", "SDRAM"};
    for (int i = 0; i < 3; ++i) {
        grid->addWidget(new QLabel(QLatin1String(captions[i]), results), i, 0);
        grid->addWidget(boxes[i], i, 1);
    }

    auto* restore = new QGroupBox(QStringLiteral("Restore Device"), column);
    auto* restoreLayout = new QVBoxLayout(restore);
    c.restoreBootImage = new QCheckBox(QStringLiteral("RESTORE BOOT IMG"), restore);
    c.restorePartition = MakeDropDownCombo(restore);
    restoreLayout->addWidget(c.restoreBootImage);
    restoreLayout->addWidget(c.restorePartition);

    layout->addWidget(results);
    layout->addWidget(restore);
    layout->addStretch();
    return column;
}

QGroupBox* ExtractionGroup(DialogControls& c, QWidget* parent) {
    auto* group = new QGroupBox(QStringLiteral("Image Extraction"), parent);
    auto* grid = new QGridLayout(group);
    c.bin = MakeDisplay(group);
    c.binPick = MakeButton(QStringLiteral("..."), group);
    c.dir = MakeDisplay(group);
    c.dirPick = MakeButton(QStringLiteral("..."), group);
    c.extract = MakeButton(QStringLiteral("Extract"), group);
    grid->addWidget(new QLabel(QStringLiteral("BIN"), group), 0, 0);
    grid->addWidget(c.bin, 0, 1);
    grid->addWidget(c.binPick, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("DIR"), group), 1, 0);
    grid->addWidget(c.dir, 1, 1);
    grid->addWidget(c.dirPick, 1, 2);
    grid->addWidget(c.extract, 0, 3, 2, 1);
    return group;
}

QWidget* StatusRow(DialogControls& c, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    c.statusLine = MakeOneLineList(row);
    c.rate = new QLabel(row);
    c.rate->setMinimumWidth(c.rate->fontMetrics().horizontalAdvance(
        QStringLiteral("Extract 100% · 999.9 MB/s, 99:59 left")));
    c.rate->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(c.statusLine, 1);
    layout->addWidget(c.rate);
    return row;
}

}  // namespace

DialogControls BuildDialogControls(QWidget& dialog) {
    DialogControls c;
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(TopRow(c, &dialog));

    auto* middle = new QHBoxLayout;
    middle->addWidget(TestGroup(c, &dialog), 1);
    middle->addWidget(RightColumn(c, &dialog), 1);
    layout->addLayout(middle);

    c.verdict = MakeVerdict(&dialog);
    layout->addWidget(c.verdict);
    c.advice = MakeAdvice(&dialog);
    layout->addWidget(c.advice);
    c.runLog = new QListWidget(&dialog);
    c.runLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    c.runLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Lines can be selected (Ctrl+A for all) and copied.
    c.runLog->setSelectionMode(QAbstractItemView::ExtendedSelection);
    layout->addWidget(c.runLog, 1);
    layout->addWidget(StatusRow(c, &dialog));
    c.progress = new QProgressBar(&dialog);
    layout->addWidget(c.progress);
    layout->addWidget(ExtractionGroup(c, &dialog));
    return c;
}

}  // namespace veltrix::ui
