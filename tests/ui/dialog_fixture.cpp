#include "tests/ui/dialog_fixture.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QJsonDocument>
#include <QSettings>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>
#include <QTimer>
#include <algorithm>

#include "diag/model_table.h"

namespace veltrix::testing {

namespace {

template <typename T>
T Next(std::deque<T>& answers, T none) {
    if (answers.empty()) {
        return none;
    }
    T answer = answers.front();
    answers.pop_front();
    return answer;
}

}  // namespace

bool WaitFor(const std::function<bool()>& done, int ms) {
    // An event loop wakes as soon as a worker posts a call; QTest::qWaitFor would sleep between
    // its looks and slow every blocking call of the worker down.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    poll.start(2);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (!done()) {
        loop.exec();
    }
    return done();
}

DialogTest::DialogTest() : savedCurrent_(QDir::currentPath()) {
    scene.WriteModel(kDloadModel, {"sbl2"});
    scene.WritePartitions({{"sbl2", 8, 2}});
    const QString config = QString::fromStdString((scene.root() / "config").string());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
    QDir::setCurrent(QString::fromStdString(scene.workDir().string()));
#ifdef _WIN32
    std::filesystem::remove_all(DataFolder() / "veltrix");
    // Windows keeps the window's settings in the registry, where setPath does not reach: the
    // user's values are put aside for the test and come back after it.
    QSettings registry(QStringLiteral("Norvane"), QStringLiteral("Veltrix"));
    for (const QString& key : registry.allKeys()) {
        savedSettings_.emplace_back(key, registry.value(key));
    }
    registry.clear();
#endif
}

std::filesystem::path DialogTest::DataFolder() const {
#ifdef _WIN32
    return PathFromUtf8(
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString());
#else
    return scene.root() / "data";
#endif
}

DialogTest::~DialogTest() {
    dialog.reset();
#ifdef _WIN32
    QSettings registry(QStringLiteral("Norvane"), QStringLiteral("Veltrix"));
    registry.clear();
    for (const auto& [key, value] : savedSettings_) {
        registry.setValue(key, value);
    }
#endif
    QDir::setCurrent(savedCurrent_);
}

ui::CVeltrixDlg& DialogTest::Open(MakeBoardTests makeTests) {
    ui::StoredSettings stored;
    stored.targetDir = QString::fromStdString(scene.targetDir().string());
    return OpenWith(stored, std::move(makeTests));
}

ui::CVeltrixDlg& DialogTest::OpenWith(const ui::StoredSettings& stored, MakeBoardTests makeTests) {
    dialog = std::make_unique<ui::CVeltrixDlg>(makeTests ? std::move(makeTests) : script.Maker(),
                                               clock ? *clock : SystemClock::Instance());
    ui::DialogSeams& seams = dialog->seams();
    seams.showMessage = [this](QWidget*, const QString& text) {
        messages.push_back(text.toStdString());
        allMessagesOnGuiThread &= QThread::currentThread() == qApp->thread();
        if (onMessage) {
            onMessage();
        }
    };
    // A run's box: recorded like the others, and closed at once unless a test holds it.
    seams.showRunMessage = [this](QWidget* parent, const QString& text,
                                  std::function<void()> closed) -> QWidget* {
        dialog->seams().showMessage(parent, text);
        closed();
        return nullptr;
    };
    seams.askYesNo = [this](QWidget*, const QString& text) {
        questions.push_back(text.toStdString());
        return Next(yesNoAnswers, true);
    };
    seams.pickFile = [this](QWidget*) { return Next(fileAnswers, QString()); };
    seams.pickFolder = [this](QWidget*, const QString&) { return Next(folderAnswers, QString()); };
    seams.pickSaveFile = [this](QWidget*, const QString& suggested) {
        suggestedNames.push_back(suggested.toStdString());
        return Next(fileAnswers, QString());
    };
    seams.openFolder = [this](const QString& folder) { openedFolder = folder; };
    dialog->SetStoredSettings(stored);
    dialog->show();
    return *dialog;
}

void DialogTest::SetUpApCheck(int port) {
    Select(*c().model, kDloadModel);
    Select(*c().comPort, QString::number(port));
    c().apCheck->setChecked(true);
}

void DialogTest::Select(QComboBox& combo, const QString& text) {
    const int index = combo.findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    combo.setCurrentIndex(index);
}

Lines DialogTest::LogLines() const {
    Lines lines;
    for (const QString& line : p().runLog->Lines()) {
        lines.push_back(line.toStdString());
    }
    return lines;
}

bool DialogTest::LogHas(const std::string& line) const {
    const Lines lines = LogLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool DialogTest::NewestLineShowsWhole() const {
    const ui::RunLogView& log = *p().runLog;
    QTextCursor cursor(log.document()->lastBlock());
    const QRect first = log.cursorRect(cursor);
    cursor.movePosition(QTextCursor::EndOfBlock);
    const QRect last = log.cursorRect(cursor);
    const QRect view = log.viewport()->rect();
    return view.contains(first.topLeft()) && first.bottom() <= view.bottom() &&
           view.contains(last.topLeft()) && last.bottom() <= view.bottom();
}

QJsonObject DialogTest::LastRecord() const {
    const Bytes bytes = ReadBytes(dialog->lastRunRecord());
    return QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size())))
        .object();
}

QStringList DialogTest::Items(const QComboBox& combo) {
    QStringList items;
    for (int i = 0; i < combo.count(); ++i) {
        items << combo.itemText(i);
    }
    return items;
}

bool DialogTest::WaitForRunEnd(int ms) {
    return WaitFor([this] { return !dialog->engine().InProgress() && !c().stop->isEnabled(); }, ms);
}

}  // namespace veltrix::testing
