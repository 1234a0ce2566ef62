#pragma once
// CVeltrixDlg: the program's one window. It collects the operator's choices, starts test runs on
// its board panel and the image extraction, and holds the panel that shows what a run writes
// (the run log, the status line, the progress bar, the result boxes and the verdict).

#include <QDialog>
#include <filesystem>
#include <memory>

#include "diag/board_tests.h"
#include "ui/board_panel.h"
#include "ui/check_interlock.h"
#include "ui/dialog_controls.h"
#include "ui/dialog_seams.h"
#include "ui/extraction_task.h"
#include "ui/stored_settings.h"
#include "ui/window_look.h"

namespace veltrix::ui {

inline constexpr const char* kDialogCaption = "Veltrix v2.99a";
inline constexpr const char* kAboutMenuText = "Veltrix 정보(&A)...";
inline constexpr const char* kFilePickCancelled = "파일지정을 취소하셨습니다.";
inline constexpr const char* kFolderPickTitle = "Please select directory.";
inline constexpr const char* kStopAndCloseQuestion =
    "테스트를 중지하고 종료하시겠습니까?  \n\nStop the test and close?  ";
inline constexpr const char* kNoBoardFound = "no board found: connect one in download mode";

class CVeltrixDlg final : public QDialog {
    Q_OBJECT
public:
    // Runs use the tests `makeTests` makes (the shipped ones unless a test stands in) and wait
    // on `clock`.
    explicit CVeltrixDlg(MakeBoardTests makeTests = MakeDeviceTests,
                         Clock& clock = SystemClock::Instance(), QWidget* parent = nullptr);
    // Saves the settings: position, size, list indexes and target directory.
    ~CVeltrixDlg() override;

    // The values read at start-up; the window applies them when it first shows.
    void SetStoredSettings(const StoredSettings& values) { stored_ = values; }
    // What the window would save now.
    StoredSettings CurrentSettings() const;

    DialogSeams& seams() { return seams_; }
    const DialogControls& controls() const { return c_; }
    BoardPanel& panel() { return *panel_; }
    RunEngine& engine() { return panel_->engine(); }
    bool ExtractionRunning() const { return extraction_.Running(); }

    void setVisible(bool visible) override;

    // Button handlers, public so tests can press them without a pointer.
    void OnStart();
    void OnStop();
    void OnPickBin();
    void OnPickDir();
    void OnPickTargetDir();
    void OnExtract();
    void OnAbout();
    // Saves the whole run log to a file (Ctrl+S, or the log's context menu), and opens the
    // folder of the run records.
    void OnSaveRunLog();
    void OnOpenRunRecords();

    // The record file of the last run the window started (empty before one ended).
    const std::filesystem::path& lastRunRecord() const { return panel_->lastRunRecord(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    // Escape never closes the window (the close button and Alt+F4 do); Enter on a focused
    // button presses it.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnInitDialog();
    void FillLists();
    void ApplyStoredSettings();
    void ConnectControls();
    void OnTestBoxClicked(TestBox clicked);
    void OnPartitionDropDown(QComboBox& combo);
    void OnPortDropDown();
    // The Level box shows the level that will run: "0", unchangeable, for a model whose SDRAM
    // test always runs at level 0; the operator's choice otherwise.
    void OnModelChanged();
    // Both partition combos from the target directory just chosen.
    void ReloadPartitionChoices();
    // The port START uses: the chosen one, or the one board in download mode when the operator
    // takes it in place of a port with nothing behind it.
    int PortForStart();
    void OnRunEnded();
    void AddActions();
    void OnExtractionDone();
    void SetRunControlsEnabled();
    // Whether the window may close now: false while a run or an extraction must end first (the
    // window closes itself when it has).
    bool ReadyToClose();

    DialogSeams seams_;
    BoardPanel* panel_;
    DialogControls c_;
    FocusRing* focusRing_;
    StoredSettings stored_;
    QString targetDir_;
    QString binPath_;
    QString dirPath_;
    // The level the operator chose, kept while a model that always runs level 0 is selected.
    QString levelChoice_;
    // The target directory changed during a run: its partitions are read when the run has ended.
    bool partitionsPending_ = false;
    ExtractionTask extraction_;
    bool initialised_ = false;
    bool closing_ = false;
};

}  // namespace veltrix::ui
