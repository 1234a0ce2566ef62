#include "ui/veltrix_dlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <iostream>

#include "diag/device_steps.h"
#include "diag/model_table.h"
#include "diag/run_worker.h"
#include "ui/about_dlg.h"

namespace veltrix::ui {
namespace {

constexpr int kPortCount = 99;
constexpr int kWaitPollMs = 20;
const char* const kOptions[] = {"Read only", "Read/Write", "Write only", "Erase"};
constexpr int kReadWriteRow = 2;  // "Read/Write" in the sorted option list
const char* const kLevels[] = {"0", "1"};
constexpr int kLevelOneRow = 1;

std::unique_ptr<RunSteps> OwnSteps(RunSteps* steps) {
    return steps != nullptr ? nullptr : std::make_unique<DeviceSteps>();
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
    return seams;
}

CVeltrixDlg::CVeltrixDlg(RunSteps* steps, QWidget* parent)
    : QDialog(parent),
      ownSteps_(OwnSteps(steps)),
      bench_(*this, steps != nullptr ? *steps : *ownSteps_, SystemClock::Instance(), std::cout),
      c_(BuildDialogControls(*this)),
      seams_(DefaultDialogSeams()) {
    setWindowTitle(QString::fromUtf8(kDialogCaption));
    setWindowIcon(QIcon(QStringLiteral(":/veltrix/veltrix.png")));
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint);
    resize(kDefaultWidth, kDefaultHeight);
    resultPalette_ = c_.apResult->palette();
    stored_.targetDir = DefaultTargetDir();
    runWatch_.setInterval(100);
    ConnectControls();
}

CVeltrixDlg::~CVeltrixDlg() {
    // Normally the close has already waited; a dialog destroyed some other way waits here.
    closing_ = true;
    if (RunInProgress(bench_)) {
        CancelRun(bench_);
    }
    WaitWithEvents([this] { return !RunInProgress(bench_) && !extraction_.Running(); });
    extraction_.Join();
    JoinWorker(bench_);
    bench_.steps.ClosePort(bench_);
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
    auto* about = new QAction(QString::fromUtf8(kAboutMenuText), this);
    connect(about, &QAction::triggered, this, &CVeltrixDlg::OnAbout);
    about->setShortcut(QKeySequence::HelpContents);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    ResetRunRecord();
    FillLists();
    c_.progress->setRange(0, 100);
    c_.progress->setValue(0);
    for (ResultBox box : {ResultBox::kAp, ResultBox::kEmmc, ResultBox::kSdram}) {
        SetResultBox(box, kResultNotTested);
    }
    ApplyStoredSettings();
}

void CVeltrixDlg::ResetRunRecord() {
    RunState& state = bench_.state;
    state.running = false;
    state.logLineCount = 0;
    state.comPort = 0;
    state.apCheck = state.emmcTest = state.restoreBootImage = false;
    state.sdramTest = state.dump = state.pmicOn = false;
    state.ddrWaiting = false;
    state.totalSectors = 0;
    for (auto& slot : bench_.index.imagePartitions) {
        slot.reset();
    }
    bench_.index.imagePartitionCount = 0;
    state.workDir = QDir::currentPath().toStdString();
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
    connect(&runWatch_, &QTimer::timeout, this, &CVeltrixDlg::OnRunWatch);
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
    // may come back here when an extraction ends).
    if (!closing_ && RunInProgress(bench_) &&
        !seams_.askYesNo(this, QString::fromUtf8(kStopAndCloseQuestion))) {
        event->ignore();
        return;
    }
    if (!ShutDown()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CVeltrixDlg::reject() {
    // Escape must not end a run and lose its log; STOP and the close button are the ways out.
    if (RunInProgress(bench_)) {
        return;
    }
    if (ShutDown()) {
        QDialog::reject();
    }
}

bool CVeltrixDlg::ShutDown() {
    if (extraction_.Running()) {
        // An image half split would leave files that do not match partition.txt: the window
        // closes when the extraction has ended.
        closing_ = true;
        SetRunControlsEnabled();
        c_.rate->setText(QStringLiteral("Closing when the extraction ends"));
        return false;
    }
    closing_ = true;
    SetRunControlsEnabled();
    if (RunInProgress(bench_)) {
        CancelRun(bench_);
        WaitWithEvents([this] { return !RunInProgress(bench_); });
    }
    JoinWorker(bench_);
    bench_.steps.ClosePort(bench_);
    return true;
}

void CVeltrixDlg::WaitWithEvents(const std::function<bool()>& done) {
    while (!done()) {
        QEventLoop loop;
        QTimer::singleShot(kWaitPollMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

}  // namespace veltrix::ui
