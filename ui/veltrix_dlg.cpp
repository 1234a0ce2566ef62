#include "ui/veltrix_dlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QUrl>

#include "diag/model_table.h"
#include "ui/about_dlg.h"
#include "ui/console_log.h"
#include "ui/window_placement.h"

namespace veltrix::ui {
namespace {

constexpr int kPortCount = 99;
const char* const kOptions[] = {"Read only", "Read/Write", "Write only", "Erase"};
constexpr int kReadWriteRow = 2;  // "Read/Write" in the sorted option list
const char* const kLevels[] = {"0", "1"};
constexpr int kLevelOneRow = 1;

// The available areas of today's screens, the primary first.
QList<QRect> ScreenAreas() {
    QList<QRect> areas;
    if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        areas << primary->availableGeometry();
    }
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != QGuiApplication::primaryScreen()) {
            areas << screen->availableGeometry();
        }
    }
    return areas;
}

}  // namespace

DialogSeams DefaultDialogSeams() {
    DialogSeams seams;
    seams.showMessage = [](QWidget* parent, const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Veltrix"), text, QMessageBox::Ok,
                        parent);
        box.exec();
    };
    seams.askYesNo = [](QWidget* parent, const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Veltrix"), text,
                        QMessageBox::Yes | QMessageBox::No, parent);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
    seams.pickFile = [](QWidget* parent) {
        return QFileDialog::getOpenFileName(parent, QString(), QString(),
                                            QStringLiteral("ALL Files(*.*) (*)"));
    };
    seams.pickFolder = [](QWidget* parent, const QString& start) {
        return QFileDialog::getExistingDirectory(parent, QString::fromUtf8(kFolderPickTitle), start,
                                                 QFileDialog::ShowDirsOnly);
    };
    seams.showRunMessage = [](QWidget* parent, const QString& text,
                              std::function<void()> closed) -> QWidget* {
        auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Veltrix"), text,
                                    QMessageBox::Ok, parent);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        // Closed by its button, Escape or STOP: the worker goes on at once, not when the box is
        // deleted later.
        QObject::connect(box, &QDialog::finished, box, [closed = std::move(closed)] { closed(); });
        box->show();
        return box;
    };
    seams.pickSaveFile = [](QWidget* parent, const QString& suggested) {
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Save run log"), suggested,
                                            QStringLiteral("Text files (*.txt);;All files (*)"));
    };
    seams.openFolder = [](const QString& folder) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };
    return seams;
}

CVeltrixDlg::CVeltrixDlg(MakeBoardTests makeTests, Clock& clock, QWidget* parent)
    : QDialog(parent), seams_(DefaultDialogSeams()) {
    setWindowTitle(QString::fromUtf8(kDialogCaption));
    setWindowIcon(QIcon(QStringLiteral(":/veltrix/veltrix.png")));
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint);
    // Selections, the bar and disabled text in colours that read; the message boxes too.
    setAttribute(Qt::WA_WindowPropagation);
    setPalette(AccessiblePalette(palette()));
    // The program directory of every run: the current directory at start-up. The board's console
    // diagnostics go to its log file beside the run records.
    panel_ = new BoardPanel(seams_, PathFromUtf8(QDir::currentPath().toStdString()),
                            ConsoleLogFolder() / "console.log", std::move(makeTests), clock, this);
    const PanelControls& p = panel_->controls();
    c_ = BuildDialogControls(*this, *panel_, {p.runLog, p.statusLine});
    new FocusRing(*this);
    resize(kDefaultWidth, kDefaultHeight);
    stored_.targetDir = DefaultTargetDir();
    ConnectControls();
}

CVeltrixDlg::~CVeltrixDlg() {
    // Normally the close has waited for the run's end; a window destroyed some other way lets
    // the worker go and waits for it here.
    closing_ = true;
    panel_->ShutDown();
    extraction_.Join();
    if (initialised_) {
        QSettings settings(QStringLiteral("Norvane"), QStringLiteral("Veltrix"));
        WriteStoredSettings(settings, CurrentSettings());
    }
}

void CVeltrixDlg::setVisible(bool visible) {
    if (visible && !initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

void CVeltrixDlg::OnInitDialog() {
    AddActions();
    FillLists();
    ApplyStoredSettings();
    connect(c_.model, &QComboBox::currentTextChanged, this, &CVeltrixDlg::OnModelChanged);
    OnModelChanged();
}

// The window's menu (its context menu, as Qt has no system menu to extend everywhere) and keys:
// the about box (F1), the run records' folder, Save (Ctrl+S) and F5 as START. The run log
// selects and copies on its own (Ctrl+A, Ctrl+C).
void CVeltrixDlg::AddActions() {
    const auto add = [this](const QString& text, const QKeySequence& key,
                            void (CVeltrixDlg::*handler)()) {
        auto* action = new QAction(text, this);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, handler);
        addAction(action);
    };
    add(QString::fromUtf8(kAboutMenuText), QKeySequence::HelpContents, &CVeltrixDlg::OnAbout);
    add(QStringLiteral("Open run records folder"), {}, &CVeltrixDlg::OnOpenRunRecords);
    add(QStringLiteral("Save run log..."), QKeySequence::Save, &CVeltrixDlg::OnSaveRunLog);
    add(QStringLiteral("START"), QKeySequence(Qt::Key_F5), &CVeltrixDlg::OnStart);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void CVeltrixDlg::FillLists() {
    for (const ModelRow& row : ModelTable()) {
        AddSorted(*c_.model,
                  QString::fromUtf8(row.displayText.data(), qsizetype(row.displayText.size())));
    }
    for (int port = 1; port <= kPortCount; ++port) {
        c_.comPort->insertItem(port - 1, QString::number(port));
    }
    for (const char* option : kOptions) {
        AddSorted(*c_.option, QString::fromLatin1(option));
    }
    c_.option->setCurrentIndex(kReadWriteRow);
    for (const char* level : kLevels) {
        AddSorted(*c_.level, QString::fromLatin1(level));
    }
    c_.level->setCurrentIndex(kLevelOneRow);
}

void CVeltrixDlg::ApplyStoredSettings() {
    SelectIndex(*c_.model, stored_.apIndex);
    SelectIndex(*c_.comPort, stored_.portIndex);
    targetDir_ = stored_.targetDir;
    c_.targetDir->setText(targetDir_);
    // Where it was and at its size, but on a screen that exists and never smaller than what it
    // needs to show everything.
    const QRect placed = PlaceOnScreens(QRect(stored_.x, stored_.y, stored_.cx, stored_.cy),
                                        minimumSizeHint(), ScreenAreas());
    resize(placed.size());
    move(placed.topLeft());
}

StoredSettings CVeltrixDlg::CurrentSettings() const {
    StoredSettings values;
    const QRect frame = frameGeometry();
    values.x = frame.left();
    values.y = frame.top();
    // The size the window is given back at the next start (its frame is the desktop's).
    values.cx = width();
    values.cy = height();
    values.apIndex = SelectedIndex(*c_.model);
    values.portIndex = SelectedIndex(*c_.comPort);
    values.targetDir = targetDir_;
    values.readWindow = stored_.readWindow;
    return values;
}

void CVeltrixDlg::ConnectControls() {
    connect(c_.start, &QPushButton::clicked, this, &CVeltrixDlg::OnStart);
    connect(c_.stop, &QPushButton::clicked, this, &CVeltrixDlg::OnStop);
    connect(c_.binPick, &QPushButton::clicked, this, &CVeltrixDlg::OnPickBin);
    connect(c_.dirPick, &QPushButton::clicked, this, &CVeltrixDlg::OnPickDir);
    connect(c_.targetDirPick, &QPushButton::clicked, this, &CVeltrixDlg::OnPickTargetDir);
    connect(c_.extract, &QPushButton::clicked, this, &CVeltrixDlg::OnExtract);
    const std::pair<QCheckBox*, TestBox> boxes[] = {
        {c_.restoreBootImage, TestBox::kRestoreBootImage},
        {c_.emmcTest, TestBox::kEmmcTest},
        {c_.sdramTest, TestBox::kSdramTest},
        {c_.dump, TestBox::kDump},
        {c_.pmicOn, TestBox::kPmicOn},
    };
    for (const auto& [box, which] : boxes) {
        connect(box, &QCheckBox::clicked, this, [this, which] { OnTestBoxClicked(which); });
    }
    connect(c_.partition, &DropDownCombo::droppingDown, this,
            [this] { OnPartitionDropDown(*c_.partition); });
    connect(c_.restorePartition, &DropDownCombo::droppingDown, this,
            [this] { OnPartitionDropDown(*c_.restorePartition); });
    connect(c_.comPort, &DropDownCombo::droppingDown, this, &CVeltrixDlg::OnPortDropDown);
    connect(panel_, &BoardPanel::runEnded, this, &CVeltrixDlg::OnRunEnded);
    connect(panel_, &BoardPanel::saveRequested, this, &CVeltrixDlg::OnSaveRunLog);
}

void CVeltrixDlg::OnTestBoxClicked(TestBox clicked) {
    TestBoxStates states{c_.apCheck->isChecked(),   c_.emmcTest->isChecked(),
                         c_.sdramTest->isChecked(), c_.restoreBootImage->isChecked(),
                         c_.dump->isChecked(),      c_.pmicOn->isChecked()};
    states = ApplyInterlock(clicked, states);
    c_.apCheck->setChecked(states.apCheck);
    c_.emmcTest->setChecked(states.emmcTest);
    c_.sdramTest->setChecked(states.sdramTest);
    c_.restoreBootImage->setChecked(states.restoreBootImage);
    c_.dump->setChecked(states.dump);
    c_.pmicOn->setChecked(states.pmicOn);
}

void CVeltrixDlg::OnModelChanged() {
    const bool levelZeroOnly = ModelClass(c_.model->currentText().toStdString(),
                                          ModelQuery::DdrImageFamily) != kDdrDebugImage;
    if (levelZeroOnly == !c_.level->isEnabled()) {
        return;
    }
    if (levelZeroOnly) {
        levelChoice_ = c_.level->currentText();
        c_.level->setCurrentIndex(c_.level->findText(QStringLiteral("0")));
        c_.level->setToolTip(QStringLiteral("The SDRAM test of this model always runs at level 0"));
    } else {
        c_.level->setCurrentIndex(c_.level->findText(levelChoice_));
        if (c_.level->currentIndex() < 0) {
            c_.level->setEditText(levelChoice_);
        }
        c_.level->setToolTip(QString());
    }
    c_.level->setEnabled(!levelZeroOnly);
}

void CVeltrixDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CVeltrixDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();  // the log on screen stays; closing is the close button's job
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* button = qobject_cast<QPushButton*>(focusWidget());
        if (button != nullptr && button->isEnabled()) {
            button->click();
            event->accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void CVeltrixDlg::closeEvent(QCloseEvent* event) {
    // A run is only stopped on purpose: closing asks first, once (a close already agreed to
    // comes back here when the run or an extraction has ended).
    if (!closing_ && panel_->InProgress() &&
        !seams_.askYesNo(this, QString::fromUtf8(kStopAndCloseQuestion))) {
        event->ignore();
        return;
    }
    if (!ReadyToClose()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CVeltrixDlg::reject() {
    // Reached through a close (the close button, Alt+F4), never through Escape.
    if (panel_->InProgress()) {
        return;
    }
    if (ReadyToClose()) {
        QDialog::reject();
    }
}

bool CVeltrixDlg::ReadyToClose() {
    closing_ = true;
    SetRunControlsEnabled();
    if (extraction_.Running()) {
        // An image half split would leave files that do not match partition.txt: the window
        // closes when the extraction has ended.
        panel_->ShowNote(QStringLiteral("Closing when the extraction ends"));
        return false;
    }
    if (panel_->InProgress()) {
        // The run ends as aborted within a second; its end closes the window.
        panel_->Stop();
        panel_->ShowNote(QStringLiteral("Closing when the test has stopped"));
        return false;
    }
    panel_->ShutDown();
    return true;
}

}  // namespace veltrix::ui
