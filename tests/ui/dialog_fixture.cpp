#include "tests/ui/dialog_fixture.h"

#include <stdlib.h>

#include <QApplication>
#include <QEventLoop>
#include <QSettings>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <fstream>

#include "diag/run_worker.h"

namespace veltrix::testing {

namespace fs = std::filesystem;

std::string PartitionRecord(uint32_t start, uint32_t count, const std::string& label,
                            const std::string& file) {
    std::string record(80, '\0');
    for (int i = 0; i < 4; ++i) {
        record[i] = static_cast<char>(start >> (8 * i));
        record[4 + i] = static_cast<char>(count >> (8 * i));
    }
    record.replace(16, label.size(), label);
    record.replace(48, file.size(), file);
    return record;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

void DialogTest::SetUp() {
    char templ[] = "/tmp/veltrix-ui-XXXXXX";
    folder = mkdtemp(templ);
    target = folder / "target";
    setenv("VELTRIX_PORTS", (folder / "ports").c_str(), 1);
    const QString config = QString::fromStdString((folder / "config").string());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
    WriteFile(target / "partition.txt", PartitionRecord(8, 2, "sbl2", "sbl2.mbn"));
}

void DialogTest::TearDown() {
    dialog.reset();
    unsetenv("VELTRIX_PORTS");
    std::error_code ec;
    fs::remove_all(folder, ec);
}

ui::CVeltrixDlg& DialogTest::OpenDialog(RunSteps* steps) {
    ui::StoredSettings stored;
    stored.targetDir = QString::fromStdString(target.string());
    OpenDialogWith(stored, steps);
    return *dialog;
}

void DialogTest::OpenDialogWith(const ui::StoredSettings& stored, RunSteps* steps) {
    dialog = std::make_unique<ui::CVeltrixDlg>(steps);
    ui::DialogSeams& seams = dialog->seams();
    seams.showMessage = [this](QWidget*, const QString& text) {
        messages.push_back(text.toStdString());
        allMessagesOnGuiThread &= QThread::currentThread() == qApp->thread();
    };
    seams.askYesNo = [this](QWidget*, const QString& text) {
        questions.push_back(text.toStdString());
        const bool yes = yesNoAnswers.empty() || yesNoAnswers.front();
        if (!yesNoAnswers.empty())
            yesNoAnswers.pop_front();
        return yes;
    };
    seams.pickFile = [this](QWidget*) {
        QString answer = fileAnswers.empty() ? QString() : fileAnswers.front();
        if (!fileAnswers.empty())
            fileAnswers.pop_front();
        return answer;
    };
    seams.pickFolder = [this](QWidget*, const QString&) {
        QString answer = folderAnswers.empty() ? QString() : folderAnswers.front();
        if (!folderAnswers.empty())
            folderAnswers.pop_front();
        return answer;
    };
    dialog->SetStoredSettings(stored);
    dialog->show();
    dialog->bench().state.workDir = folder;
}

std::unique_ptr<sim::SimulatedBoard> DialogTest::StartBoard(int port) {
    const fs::path model = folder / "model" / kModel;
    // A one-record Intel-HEX programmer (4 bytes at 0x1000) and its end record.
    WriteFile(model / "2nd_loader.hex", ":0410000001020304E2\n:00000001FF\n");
    WriteFile(model / "boot_partition_info" / "rawprogram0.xml",
              "<?xml version=\"1.0\" ?><data><program label=\"sbl2\" start_sector=\"8\" "
              "num_partition_sectors=\"2\" filename=\"sbl2.mbn\"/></data>");
    sim::BoardOptions options;
    options.portNumber = port;
    options.portsFolder = folder / "ports";
    options.emmcSize = 16ull << 20;
    auto board = std::make_unique<sim::SimulatedBoard>(options);
    std::string error;
    if (!board->Start(&error)) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    return board;
}

void DialogTest::CloseDialog() {
    dialog->close();
    dialog.reset();
}

std::vector<std::string> DialogTest::LogLines() const {
    std::vector<std::string> lines;
    const QListWidget& log = *dialog->controls().runLog;
    for (int i = 0; i < log.count(); ++i) {
        lines.push_back(log.item(i)->data(Qt::UserRole).toString().toStdString());
    }
    return lines;
}

QStringList DialogTest::Items(const QComboBox& combo) const {
    QStringList items;
    for (int i = 0; i < combo.count(); ++i) {
        items << combo.itemText(i);
    }
    return items;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    // An event loop wakes as soon as the worker posts a call; QTest::qWaitFor would sleep
    // between its looks and slow every blocking call of the worker down.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(2);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (!done()) {
        loop.exec();
    }
    return done();
}

bool DialogTest::WaitForRunEnd(int ms) {
    return WaitFor([this] { return !RunInProgress(dialog->bench()); }, ms);
}

void DialogTest::Select(QComboBox& combo, const QString& text) {
    const int index = combo.findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    combo.setCurrentIndex(index);
}

}  // namespace veltrix::testing
