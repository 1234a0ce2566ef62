#pragma once
// CVeltrixDlg: the program's one window. It collects the operator's choices, starts test runs
// and the image extraction, and shows what a run writes: the run log, the status line, the
// progress bar and the three result boxes. It is the engine's run view: the worker calls it from
// its own thread, and each call returns once the GUI thread has carried it out, so lines appear
// in the order written and a run's message box holds the worker until it is closed.

#include <QDialog>
#include <QPalette>
#include <QPointer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "diag/board_tests.h"
#include "diag/progress_meter.h"
#include "diag/run_engine.h"
#include "diag/run_report.h"
#include "diag/run_view.h"
#include "ui/check_interlock.h"
#include "ui/dialog_controls.h"
#include "ui/extraction_task.h"
#include "ui/gui_bridge.h"
#include "ui/stored_settings.h"

namespace veltrix::ui {

inline constexpr const char* kDialogCaption = "Veltrix v2.99a";
inline constexpr const char* kAboutMenuText = "Veltrix 정보(&A)...";
inline constexpr const char* kFilePickCancelled = "파일지정을 취소하셨습니다.";
inline constexpr const char* kFolderPickTitle = "Please select directory.";
inline constexpr const char* kStopAndCloseQuestion =
    "테스트를 중지하고 종료하시겠습니까?  \n\nStop the test and close?  ";

// The windows the dialog opens, behind one seam so tests can answer them.
struct DialogSeams {
    // A message box with an OK button; returns when it has been closed.
    std::function<void(QWidget* parent, const QString& text)> showMessage;
    // A run's message box: shown without blocking the window (STOP and the close button stay
    // usable); `closed` is called once when it has gone. Returns the box, so STOP can close it.
    std::function<QWidget*(QWidget* parent, const QString& text, std::function<void()> closed)>
        showRunMessage;
    // A Yes/No question with No as the default; true when answered Yes.
    std::function<bool(QWidget* parent, const QString& text)> askYesNo;
    // The open-file dialog; empty text when cancelled.
    std::function<QString(QWidget* parent)> pickFile;
    // The folder browser; empty text when cancelled.
    std::function<QString(QWidget* parent, const QString& start)> pickFolder;
    // The save-file dialog for the run log; empty text when cancelled.
    std::function<QString(QWidget* parent)> pickSaveFile;
    // Opens a folder in the desktop's file manager.
    std::function<void(const QString& folder)> openFolder;
};
DialogSeams DefaultDialogSeams();

class CVeltrixDlg final : public QDialog, public RunView {
    Q_OBJECT
public:
    // Runs use the tests `makeTests` makes (the shipped ones unless a test stands in).
    explicit CVeltrixDlg(MakeBoardTests makeTests = MakeDeviceTests, QWidget* parent = nullptr);
    // Saves the settings: position, size, list indexes and target directory.
    ~CVeltrixDlg() override;

    // The values read at start-up; the dialog applies them when it first shows.
    void SetStoredSettings(const StoredSettings& values) { stored_ = values; }
    // What the dialog would save now.
    StoredSettings CurrentSettings() const;

    DialogSeams& seams() { return seams_; }
    const DialogControls& controls() const { return c_; }
    RunEngine& engine() { return engine_; }
    bool ExtractionRunning() const { return extraction_.Running(); }

    // RunView, callable from any thread.
    void InsertLogLine(int position, const std::string& text) override;
    void DeleteLogLine(int position) override;
    void SelectLastLogLine() override;
    void ShowMessage(const std::string& text) override;
    void PushStatus(const std::string& text) override;
    void SetProgress(int percent) override;
    void SetTransfer(uint64_t done, uint64_t total) override;
    void SetResultBox(ResultBox box, const std::string& text) override;
    void ClearLog() override;
    void RunEnded() override;

    void setVisible(bool visible) override;

    // Button handlers, public so tests can press them without a pointer.
    void OnStart();
    void OnStop();
    void OnPickBin();
    void OnPickDir();
    void OnPickTargetDir();
    void OnExtract();
    void OnAbout();
    // The run log's actions: copy the selected lines (Ctrl+C; Ctrl+A selects them all), save the
    // whole log to a file, and open the folder of the run records.
    void OnCopyRunLog();
    void OnSaveRunLog();
    void OnOpenRunRecords();

    // The record file of the last run the window started (empty before one ended).
    const std::filesystem::path& lastRunRecord() const { return lastRecord_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void OnInitDialog();
    void ResetRunRecord();
    void FillLists();
    void ApplyStoredSettings();
    void ConnectControls();
    void OnTestBoxClicked(TestBox clicked);
    void OnPartitionDropDown(QComboBox& combo);
    void OnPortDropDown();
    // The port START uses: the chosen one, or the one board in download mode when the operator
    // takes it in place of a port with nothing behind it.
    int PortForStart();
    void OnRunEnded();
    // The banner: the verdict, and under it what the operator must do now.
    void ShowVerdict(const RunVerdict& verdict, const std::vector<std::string>& advice = {});
    void SaveRecordOfRun();
    std::vector<std::string> RunLogLines() const;
    void AddActions();
    void OnExtractionDone();
    void ShowExtractionProgress(uint64_t done, uint64_t total);
    void SetRunControlsEnabled();
    void ShowMessageNow(const QString& text);
    // True when the run just prepared may start: an Erase run asks the operator first.
    // Whether the window may close now: false while a run or an extraction must end first (the
    // window closes itself when it has).
    bool ReadyToClose();
    template <typename F>
    void OnGuiThread(F&& call) {
        bridge_.Run(std::forward<F>(call));
    }

    GuiBridge bridge_{*this};
    RunEngine engine_;
    DialogControls c_;
    DialogSeams seams_;
    StoredSettings stored_;
    QString targetDir_;
    QString binPath_;
    QString dirPath_;
    QPalette resultPalette_;
    QPalette verdictPalette_;
    QPalette progressPalette_;
    ProgressMeter runMeter_;
    ProgressMeter extractMeter_;
    // The run under way, for its record: its selections, port text and start.
    std::filesystem::path lastRecord_;
    // The run's message box while it is open.
    QPointer<QWidget> runBox_;
    ExtractionTask extraction_;
    bool initialised_ = false;
    bool closing_ = false;
};

}  // namespace veltrix::ui
