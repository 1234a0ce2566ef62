#pragma once
// The dialog tests' common ground: a private folder (settings, ports, model folders, target
// directory), a CVeltrixDlg whose message boxes, questions and pickers answer at once and are
// recorded, and readers of what the window shows.

#include <gtest/gtest.h>

#include <QStringList>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "diag/run_steps.h"
#include "sim/simulated_board.h"
#include "ui/veltrix_dlg.h"

namespace veltrix::testing {

// One 80-byte partition.txt record.
std::string PartitionRecord(uint32_t start, uint32_t count, const std::string& label,
                            const std::string& file);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// The model the simulated board plays; the fixture writes its model folder.
inline constexpr const char* kModel = "Tamsin (APQ8064)";

// Processes events until `done` holds; false when `ms` passed first.
bool WaitFor(const std::function<bool()>& done, int ms);

class DialogTest : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    // A dialog as the program makes it (with `steps` for its runs when given), shown.
    ui::CVeltrixDlg& OpenDialog(RunSteps* steps = nullptr);
    void OpenDialogWith(const ui::StoredSettings& stored, RunSteps* steps = nullptr);
    // Writes kModel's folder (programmer, rawprogram0.xml) and starts a simulated board on
    // `port`; null (with a test failure) when it cannot start.
    std::unique_ptr<sim::SimulatedBoard> StartBoard(int port);
    // Destroys the dialog (it saves its settings).
    void CloseDialog();

    // Message boxes shown so far, and the thread each was shown on.
    std::vector<std::string> messages;
    bool allMessagesOnGuiThread = true;
    std::vector<std::string> questions;  // Yes/No questions asked so far
    std::deque<bool> yesNoAnswers;       // their next answers (true = Yes; Yes when none left)
    std::deque<QString> fileAnswers;     // next answers of the file picker ("" = cancel)
    std::deque<QString> folderAnswers;   // next answers of the folder picker ("" = cancel)

    // The run log as the worker wrote it (line feeds kept).
    std::vector<std::string> LogLines() const;
    QStringList Items(const QComboBox& combo) const;
    // Processes events until no run is in progress; false after `ms`.
    bool WaitForRunEnd(int ms = 10000);
    void Select(QComboBox& combo, const QString& text);

    std::filesystem::path folder;
    std::filesystem::path target;  // holds a partition.txt with sbl2 at sector 8
    std::unique_ptr<ui::CVeltrixDlg> dialog;
};

}  // namespace veltrix::testing
