#include "ui/board_panel.h"

#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "base/result_codes.h"
#include "diag/run_record.h"
#include "ui/result_colours.h"
#include "ui/run_records.h"
#include "ui/window_look.h"
#include "ui/window_wording.h"

namespace veltrix::ui {
namespace {

constexpr int kLogLinesShownAtLeast = 8;

QLineEdit* MakeResultBox(QWidget* parent) {
    auto* box = new QLineEdit(parent);
    box->setReadOnly(true);
    // Read by the screen reader through its label; Tab goes past it to the controls.
    box->setFocusPolicy(Qt::NoFocus);
    box->setAlignment(Qt::AlignCenter);
    // Until it says PASS or FAIL (then it is filled), a result box has the window's background.
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
    list->setTextElideMode(Qt::ElideRight);
    list->addItem(QStringLiteral("Xg"));
    const int row = list->sizeHintForRow(0);
    list->clear();
    list->setFixedHeight(row + 2 * list->frameWidth());
    return list;
}

QGroupBox* ResultsGroup(PanelControls& c, QWidget* parent) {
    auto* group = new QGroupBox(QStringLiteral("Test Results"), parent);
    auto* row = new QHBoxLayout(group);
    c.apResult = MakeResultBox(group);
    c.emmcResult = MakeResultBox(group);
    c.sdramResult = MakeResultBox(group);
    QLineEdit* const boxes[] = {c.apResult, c.emmcResult, c.sdramResult};
    const char* captions[] = {"AP", "EMMC", "SDRAM"};
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(QLatin1String(captions[i]), group);
        label->setBuddy(boxes[i]);  // the box's name for a screen reader
        row->addWidget(label);
        row->addWidget(boxes[i], 1);
    }
    return group;
}

// "20261208-0930": the local time of a run's start ("2026-12-08T08:30:00Z").
QString LocalStamp(const std::string& utc) {
    QDateTime when = QDateTime::fromString(QString::fromStdString(utc), Qt::ISODate);
    if (!when.isValid()) {
        when = QDateTime::currentDateTime();
    }
    return when.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmm"));
}

}  // namespace

BoardPanel::BoardPanel(DialogSeams& seams, std::filesystem::path workDir,
                       std::filesystem::path consoleLog, MakeBoardTests makeTests, Clock& clock,
                       QWidget* parent)
    : QWidget(parent),
      seams_(seams),
      console_(std::move(consoleLog)),
      engine_(*this, console_.stream(), clock, std::move(workDir), std::move(makeTests)),
      logName_(QStringLiteral("run-log.txt")) {
    Build();
    resultPalette_ = c_.apResult->palette();
    progressPalette_ = ProgressPalette(c_.progress->palette(), kFocusRingColour, Qt::white);
    c_.progress->setPalette(progressPalette_);
    for (ResultBox box : {ResultBox::kAp, ResultBox::kEmmc, ResultBox::kSdram}) {
        SetResultBox(box, kResultNotTested);
    }
    connect(c_.banner, &VerdictBanner::grew, this, [this](int pixels) {
        // The log keeps its height: the window grows instead, as far as its screen allows.
        QWidget* top = window();
        const int room = top->screen() ? top->screen()->availableGeometry().height() : 1 << 20;
        top->resize(top->width(), std::min(room, top->height() + pixels));
    });
    connect(c_.runLog, &RunLogView::saveRequested, this, &BoardPanel::saveRequested);
}

BoardPanel::~BoardPanel() {
    ShutDown();
}

void BoardPanel::ShutDown() {
    // The worker's calls to the panel return unmade from now on, so waiting for it cannot hang.
    bridge_.Detach();
    engine_.ShutDown();
}

void BoardPanel::Build() {
    auto* layout = new QVBoxLayout(this);
    // Room around the log and the status line for the focus ring, which is drawn outside them.
    const int room = kFocusRingWidth + 1;
    layout->setContentsMargins(room, room, room, room);
    layout->addWidget(ResultsGroup(c_, this));
    c_.banner = new VerdictBanner(this);
    c_.verdict = c_.banner->verdict();
    c_.advice = c_.banner->advice();
    layout->addWidget(c_.banner);
    c_.runLog = new RunLogView(this);
    c_.runLog->setAccessibleName(QStringLiteral("Run log"));
    c_.runLog->setMinimumHeight(kLogLinesShownAtLeast * c_.runLog->fontMetrics().lineSpacing() +
                                2 * c_.runLog->frameWidth());
    layout->addWidget(c_.runLog, 1);

    auto* statusRow = new QHBoxLayout;
    c_.statusLine = MakeOneLineList(this);
    c_.statusLine->setAccessibleName(QStringLiteral("Status"));
    c_.rate = new QLabel(this);
    c_.rate->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    c_.rate->setVisible(false);  // the status line has the whole width while there is no rate
    statusRow->addWidget(c_.statusLine, 1);
    statusRow->addWidget(c_.rate);
    layout->addLayout(statusRow);
    c_.progress = new QProgressBar(this);
    c_.progress->setAccessibleName(QStringLiteral("Progress"));
    c_.progress->setRange(0, 100);
    c_.progress->setValue(0);
    layout->addWidget(c_.progress);
}

int BoardPanel::Start(const RunSelections& selections, int port,
                      const RunEngine::Confirm& confirm) {
    if (engine_.InProgress()) {
        return engine_.Start(selections, port);  // "Test in progress"; nothing changes
    }
    // Ahead of anything the run writes to the console log, the START it comes from.
    console_.stream() << "---- START on COM" << port << ", " << selections.model << "\n";
    const int started = engine_.Start(selections, port, confirm);
    if (started == kErrorNotEnoughMemory) {
        PushStatus("The test run could not be started.");
    }
    if (started != kErrorSuccess) {
        return started;
    }
    // The run has started: its log and boxes are fresh (the engine saw to it), and so is what
    // the panel shows around them.
    c_.banner->Clear();
    runMeter_.Reset();
    SetRate({});
    ResetBar();
    logName_ =
        QStringLiteral("run-COM%1-%2.txt").arg(port).arg(LocalStamp(engine_.Report().started));
    return started;
}

void BoardPanel::Stop() {
    if (engine_.InProgress()) {
        engine_.Cancel();
        if (runBox_) {
            runBox_->close();  // a run's message box no longer holds the run
        }
    }
}

void BoardPanel::ShowNote(const QString& text) {
    SetRate(text);
}

void BoardPanel::OnRunEnded() {
    if (engine_.InProgress()) {
        return;  // a later run has started meanwhile; its own end comes
    }
    // The worker has made its last call; collect its thread.
    engine_.Join();
    const RunRecord& record = engine_.Record();
    ShowVerdict(VerdictOf(record), AdviceOf(record));
    ShowDumpFiles(record);
    SaveRecordOfRun();
    if (const std::string problem = console_.problem(); !problem.empty()) {
        PushStatus("The console log cannot be written: " + problem);
    }
    SetRate({});
    if (c_.progress->maximum() != 100) {
        ShowWait(0, 0);  // a wait cut short by the run's end
    }
    Q_EMIT runEnded();
}

void BoardPanel::ShowVerdict(const RunVerdict& verdict, const std::vector<std::string>& advice) {
    if (verdict.kind == RunVerdict::Kind::kNone) {
        c_.banner->Clear();
        return;
    }
    QStringList lines;
    for (const std::string& line : advice) {
        lines << WindowWording(QString::fromStdString(line));
    }
    const ResultColours colours = VerdictColours(verdict.kind);
    c_.banner->Show(QString::fromStdString(verdict.text), lines, colours);
    // The status line and the bar end with the outcome too, not with an earlier step's words.
    PushStatus(verdict.text);
    if (verdict.kind != RunVerdict::Kind::kPass) {
        c_.progress->setPalette(
            ProgressPalette(progressPalette_, colours.background, colours.text));
    }
}

// Where the run's dumps went, below its log: the folder and each file with its size.
void BoardPanel::ShowDumpFiles(const RunRecord& record) {
    std::filesystem::path folder;
    for (const std::filesystem::path& file : record.dumpFiles) {
        if (file.parent_path() != folder) {
            folder = file.parent_path();
            c_.runLog->InsertLine(
                c_.runLog->LineCount(),
                QStringLiteral("Dump files in %1:").arg(QString::fromStdString(folder.string())));
        }
        std::error_code ec;
        const auto size = std::filesystem::file_size(file, ec);
        c_.runLog->InsertLine(c_.runLog->LineCount(),
                              QStringLiteral("  %1 (%2 bytes)")
                                  .arg(QString::fromStdString(file.filename().string()))
                                  .arg(ec ? QStringLiteral("?") : QString::number(size)));
    }
}

void BoardPanel::SaveRecordOfRun() {
    std::string reason;
    lastRecord_ = SaveRunRecord(engine_.Report(), &reason);
    if (lastRecord_.empty()) {
        PushStatus("The run record cannot be written: " + reason);
    }
}

void BoardPanel::BeginExtraction() {
    extracting_ = true;
    c_.runLog->ClearLines();
    c_.banner->Clear();
    for (ResultBox box : {ResultBox::kAp, ResultBox::kEmmc, ResultBox::kSdram}) {
        SetResultBox(box, kResultNotTested);
    }
    extractMeter_.Reset();
    SetRate({});
    ResetBar();
    PushStatus("Extracting the total binary image");
    logName_ = QStringLiteral("extract-%1.txt")
                   .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmm")));
}

void BoardPanel::ShowExtractionProgress(uint64_t done, uint64_t total) {
    if (!extracting_ || total == 0) {
        return;
    }
    const int percent = static_cast<int>(done * 100 / total);
    c_.progress->setValue(percent);
    const std::string rate = extractMeter_.Update(done, total, std::chrono::steady_clock::now());
    SetRate(
        rate.empty()
            ? QStringLiteral("Extract %1%").arg(percent)
            : QStringLiteral("Extract %1% · %2").arg(percent).arg(QString::fromStdString(rate)));
}

void BoardPanel::EndExtraction() {
    extracting_ = false;
    SetRate({});
}

void BoardPanel::SetRate(const QString& text) {
    c_.rate->setText(text);
    c_.rate->setVisible(!text.isEmpty());
}

void BoardPanel::ResetBar() {
    c_.progress->setPalette(progressPalette_);
    c_.progress->setRange(0, 100);
    c_.progress->setFormat(QStringLiteral("%p%"));
    c_.progress->setValue(0);
}

}  // namespace veltrix::ui
