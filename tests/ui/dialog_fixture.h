#pragma once
// The window's tests on the bench scene: the DLOAD model's folder (programmer, rawprogram0.xml
// listing sbl2), partition.txt with sbl2 at sector 8 and its image in the target directory, the
// settings kept in the scene's folder, and the scene's work folder as the current folder, where
// the window's runs find the model folders. The window's message boxes, questions and pickers
// answer at once and are recorded; its runs use the script's tests unless a test says otherwise.

#include <gtest/gtest.h>

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "tests/support/bench_scene.h"
#include "tests/support/scripted_tests.h"
#include "ui/veltrix_dlg.h"

namespace veltrix::testing {

// Processes events until `done` holds; false when `ms` passed first.
bool WaitFor(const std::function<bool()>& done, int ms);

class DialogTest : public ::testing::Test {
protected:
    DialogTest();
    ~DialogTest() override;

    // A window as the program makes it, shown, on the scene's target directory (or `stored`).
    ui::CVeltrixDlg& Open(MakeBoardTests makeTests = {});
    ui::CVeltrixDlg& OpenWith(const ui::StoredSettings& stored, MakeBoardTests makeTests = {});
    // Destroys the window (it saves its settings).
    void Close() { dialog.reset(); }
    // Selects the DLOAD model and `port` and ticks the AP check alone.
    void SetUpApCheck(int port);
    void Select(QComboBox& combo, const QString& text);

    const ui::DialogControls& c() const { return dialog->controls(); }
    const ui::PanelControls& p() const { return dialog->panel().controls(); }
    // The run log as the window shows it, a line each.
    Lines LogLines() const;
    bool LogHas(const std::string& line) const;
    // The run log's newest line is in view, all of it (every line it wraps to).
    bool NewestLineShowsWhole() const;
    // The record of the window's last run, parsed (empty when it is not JSON).
    QJsonObject LastRecord() const;
    static QStringList Items(const QComboBox& combo);
    // Processes events until the run has ended and the window has taken its end up (STOP off).
    bool WaitForRunEnd(int ms = 10000);

    Lines messages;                      // message boxes shown so far
    bool allMessagesOnGuiThread = true;  // and each on the window's thread
    std::function<void()> onMessage;     // what a test looks at while a box is shown
    Lines questions;                     // Yes/No questions asked so far
    std::deque<bool> yesNoAnswers;       // their next answers (Yes when none are left)
    std::deque<QString> fileAnswers;     // the next picks, to open or to save ("" = cancel)
    Lines suggestedNames;                // the names the save dialog offered
    std::deque<QString> folderAnswers;
    QString openedFolder;  // the folder last opened in the file manager

    BenchScene scene;
#ifndef _WIN32
    // The run records and the console log go to the scene's data folder.
    ScopedEnv dataHome{"XDG_DATA_HOME", (scene.root() / "data").string()};
#endif
    // Where the window keeps its run records and console log: the scene's data folder; on
    // Windows, where the system names the folder, Qt's test-mode folder, emptied for each test.
    std::filesystem::path DataFolder() const;
    ScriptedTests script;
    Clock* clock = nullptr;  // the windows' runs wait on it (the system's when none)
    std::unique_ptr<ui::CVeltrixDlg> dialog;

private:
    QString savedCurrent_;
    std::vector<std::pair<QString, QVariant>> savedSettings_;  // Windows: the user's, put aside
};

}  // namespace veltrix::testing
