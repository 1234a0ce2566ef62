#pragma once
// One board on the window: its run engine and everything a run on it shows (the result boxes,
// the verdict area, the run log, the status line with the rate, the progress bar). The panel is
// the engine's run view: the worker calls it from its own thread, and each call returns once the
// GUI thread has carried it out, so lines appear in the order written and a run's message box
// holds the worker until it is closed. The engine's console diagnostics go to the panel's own
// log file. A window holds one panel per board.

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPointer>
#include <QProgressBar>
#include <QWidget>
#include <filesystem>
#include <memory>

#include "diag/board_tests.h"
#include "diag/progress_meter.h"
#include "diag/run_engine.h"
#include "diag/run_view.h"
#include "ui/console_log.h"
#include "ui/dialog_seams.h"
#include "ui/gui_bridge.h"
#include "ui/run_log_view.h"
#include "ui/verdict_banner.h"

namespace veltrix::ui {

struct PanelControls {
    QLineEdit* apResult = nullptr;
    QLineEdit* emmcResult = nullptr;
    QLineEdit* sdramResult = nullptr;
    // The run's outcome at a glance, and under it what the operator must do now.
    VerdictBanner* banner = nullptr;
    QLabel* verdict = nullptr;
    QLabel* advice = nullptr;
    RunLogView* runLog = nullptr;
    QListWidget* statusLine = nullptr;
    QLabel* rate = nullptr;  // rate and time left of a long read or extraction; hidden when empty
    QProgressBar* progress = nullptr;
};

class BoardPanel final : public QWidget, public RunView {
    Q_OBJECT
public:
    // Runs find the model folders below `workDir`, use the tests `makeTests` makes and wait on
    // `clock`; the engine's diagnostics go to `consoleLog`. Message boxes go through `seams`.
    BoardPanel(DialogSeams& seams, std::filesystem::path workDir, std::filesystem::path consoleLog,
               MakeBoardTests makeTests, Clock& clock, QWidget* parent = nullptr);
    // Lets a run still going end (its calls to the panel return unmade) and waits for it.
    ~BoardPanel() override;

    const PanelControls& controls() const { return c_; }
    RunEngine& engine() { return engine_; }
    ConsoleLog& console() { return console_; }

    // START on this board with the window's selections: the engine's START; when the run
    // starts, the banner, the bar and the rate start afresh. A START that does not start
    // leaves the log, the boxes and the banner as they were. The engine's result.
    int Start(const RunSelections& selections, int port, const RunEngine::Confirm& confirm);
    // STOP: the run ends as aborted; a message box it shows goes.
    void Stop();
    bool InProgress() const { return engine_.InProgress(); }
    // The window is going: a run still going is cancelled and waited for, and the panel's
    // calls from other threads return unmade from now on.
    void ShutDown();
    // The rate label's place for a word from the window ("Closing when the test has stopped").
    void ShowNote(const QString& text);

    // The image extraction writes its lines here: the log, the boxes and the banner of the last
    // run give way to it, and the bar shows its progress.
    void BeginExtraction();
    void ShowExtractionProgress(uint64_t done, uint64_t total);
    void EndExtraction();

    // The whole log as it shows (what Save writes), and the name Save offers for it:
    // "run-COM9-20261208-0930.txt" after a run, by the port and the local time it started.
    QString LogText() const { return c_.runLog->Text(); }
    QString SuggestedLogName() const { return logName_; }
    // The record file of the last run that ended (empty before one did).
    const std::filesystem::path& lastRunRecord() const { return lastRecord_; }

    // RunView, callable from any thread.
    void InsertLogLine(int position, const std::string& text) override;
    void DeleteLogLine(int position) override;
    void SelectLastLogLine() override;
    void ShowMessage(const std::string& text) override;
    void PushStatus(const std::string& text) override;
    void SetProgress(int percent) override;
    void SetTransfer(uint64_t done, uint64_t total) override;
    void ShowWait(int secondsLeft, int seconds) override;
    void SetResultBox(ResultBox box, const std::string& text) override;
    void ClearLog() override;
    void RunEnded() override;

Q_SIGNALS:
    // The panel has taken the run's end up: verdict shown, record saved.
    void runEnded();
    // The log's context menu asks to save it.
    void saveRequested();

private:
    void Build();
    void OnRunEnded();
    void ShowVerdict(const RunVerdict& verdict, const std::vector<std::string>& advice);
    void ShowDumpFiles(const RunRecord& record);
    void SaveRecordOfRun();
    void SetRate(const QString& text);
    void ResetBar();
    template <typename F>
    void OnGuiThread(F&& call) {
        bridge_.Run(std::forward<F>(call));
    }

    DialogSeams& seams_;
    GuiBridge bridge_{*this};
    PanelControls c_;
    ConsoleLog console_;
    RunEngine engine_;
    QPalette resultPalette_;
    QPalette progressPalette_;
    ProgressMeter runMeter_;
    ProgressMeter extractMeter_;
    QString logName_;
    std::filesystem::path lastRecord_;
    // The run's message box while it is open.
    QPointer<QWidget> runBox_;
    bool extracting_ = false;
};

}  // namespace veltrix::ui
