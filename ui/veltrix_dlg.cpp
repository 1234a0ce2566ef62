#include "ui/veltrix_dlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QUrl>
#include <iostream>

#include "diag/model_table.h"
#include "ui/about_dlg.h"

namespace veltrix::ui {
namespace {

constexpr int kPortCount = 99;
const char* const kOptions[] = {"Read only", "Read/Write", "Write only", "Erase"};
constexpr int kReadWriteRow = 2;  // "Read/Write" in the sorted option list
const char* const kLevels[] = {"0", "1"};
constexpr int kLevelOneRow = 1;

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
    seams.pickSaveFile = [](QWidget* parent) {
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Save run log"),
                                            QStringLiteral("run-log.txt"),
                                            QStringLiteral("Text files (*.txt);;All files (*)"));
    };
    seams.openFolder = [](const QString& folder) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };
    return seams;
}

CVeltrixDlg::CVeltrixDlg(MakeBoardTests makeTests, QWidget* parent)
    : QDialog(parent),
      // The program directory of every run: the current directory at start-up.
      engine_(*this, std::cout, SystemClock::Instance(), QDir::currentPath().toStdString(),
              std::move(makeTests)),
      c_(BuildDialogControls(*this)),
      seams_(DefaultDialogSeams()) {
    setWindowTitle(QString::fromUtf8(kDialogCaption));
    setWindowIcon(QIcon(QStringLiteral(":/veltrix/veltrix.png")));
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint);
    resize(kDefaultWidth, kDefaultHeight);
    resultPalette_ = c_.apResult->palette();
    verdictPalette_ = c_.verdict->palette();
    progressPalette_ = c_.progress->palette();
    stored_.targetDir = DefaultTargetDir();
    ConnectControls();
}

CVeltrixDlg::~CVeltrixDlg() {
    // Normally the close has waited for the run's end; a dialog destroyed some other way lets the
    // worker go (its calls to the window return unmade from now on) and waits for it here.
    closing_ = true;
    bridge_.Detach();
    engine_.ShutDown();
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
    c_.progress->setRange(0, 100);
    c_.progress->setValue(0);
    for (ResultBox box : {ResultBox::kAp, ResultBox::kEmmc, ResultBox::kSdram}) {
        SetResultBox(box, kResultNotTested);
    }
    ApplyStoredSettings();
}

// The window's menu (its context menu, as Qt has no system menu to extend everywhere) and keys:
// the about box (F1), the run log's copy, select-all and save, the run records' folder, and F5
// as START.
void CVeltrixDlg::AddActions() {
    const auto add = [this](QWidget* owner, const QString& text, const QKeySequence& key,
                            void (CVeltrixDlg::*handler)()) {
        auto* action = new QAction(text, owner);
        action->setShortcut(key);
        action->setShortcutContext(owner == this ? Qt::WindowShortcut
                                                 : Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, handler);
        owner->addAction(action);
        return action;
    };
    add(this, QString::fromUtf8(kAboutMenuText), QKeySequence::HelpContents, &CVeltrixDlg::OnAbout);
    add(this, QStringLiteral("Open run records folder"), {}, &CVeltrixDlg::OnOpenRunRecords);
    add(this, QStringLiteral("Save run log..."), QKeySequence::Save, &CVeltrixDlg::OnSaveRunLog);
    add(this, QStringLiteral("START"), QKeySequence(Qt::Key_F5), &CVeltrixDlg::OnStart);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    add(c_.runLog, QStringLiteral("Copy"), QKeySequence::Copy, &CVeltrixDlg::OnCopyRunLog);
    auto* all = new QAction(QStringLiteral("Select all"), c_.runLog);
    all->setShortcut(QKeySequence::SelectAll);
    all->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(all, &QAction::triggered, c_.runLog, &QListWidget::selectAll);
    c_.runLog->addAction(all);
    add(c_.runLog, QStringLiteral("Save run log..."), {}, &CVeltrixDlg::OnSaveRunLog);
    c_.runLog->setContextMenuPolicy(Qt::ActionsContextMenu);
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
    // The stored size is kept for the record only: the window keeps its own.
    move(stored_.x, stored_.y);
}

StoredSettings CVeltrixDlg::CurrentSettings() const {
    StoredSettings values;
    const QRect frame = frameGeometry();
    values.x = frame.left();
    values.y = frame.top();
    values.cx = frame.width();
    values.cy = frame.height();
    values.apIndex = SelectedIndex(*c_.model);
    values.portIndex = SelectedIndex(*c_.comPort);
    values.targetDir = targetDir_;
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

void CVeltrixDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CVeltrixDlg::closeEvent(QCloseEvent* event) {
    // A run is only stopped on purpose: closing asks first, once (a close already agreed to
    // comes back here when the run or an extraction has ended).
    if (!closing_ && engine_.InProgress() &&
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
    // Escape must not end a run and lose its log; STOP and the close button are the ways out.
    if (engine_.InProgress()) {
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
        c_.rate->setText(QStringLiteral("Closing when the extraction ends"));
        return false;
    }
    if (engine_.InProgress()) {
        // The run ends as aborted within a second; its end closes the window. A message box of
        // the run would hold it: it goes too.
        engine_.Cancel();
        if (runBox_) {
            runBox_->close();
        }
        c_.rate->setText(QStringLiteral("Closing when the test has stopped"));
        return false;
    }
    engine_.ShutDown();
    return true;
}

}  // namespace veltrix::ui
