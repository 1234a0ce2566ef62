// window_session: the window as a technician meets it, driven through its own controls against a
// board on a COM port, with a screenshot of what it shows after each run. The Windows pass runs
// it under Wine on the test display against the native simulated board (scripts/demo.sh
// --wine), in the folder that holds the model folders:
//
//   window_session <model> <COM number> <target dir> <pictures dir>
//
// Run 1: START an AP check and an eMMC read check ("Read only"), wait for the verdict: PASS.
// Run 2: the same, STOP while it runs: ABORTED. Then START with no test ticked: the box asking
// for one (Korean and English). Each run's verdict, result boxes and log go to standard output,
// each screenshot to "<pictures dir>/window-<n>.png". Message boxes are taken in the screenshot,
// then closed as a technician would. Exit status 0 when all ended as they should, 1 otherwise.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "app/veltrix_app.h"
#include "ui/stored_settings.h"

namespace {

using veltrix::ui::CVeltrixDlg;

// Processes events until `done` holds or `ms` have passed; false when the time ran out.
bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

void Say(const QString& text) {
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

// The screen as the display shows it (the window and any box over it), else the window alone.
bool Screenshot(CVeltrixDlg& dialog, const QString& file) {
    QPixmap picture = dialog.screen()->grabWindow(0);
    if (picture.isNull()) {
        picture = dialog.grab();
    }
    return picture.save(file);
}

// Says and closes the message boxes open (a run's result boxes, a question); returns their texts.
QString CloseMessageBoxes() {
    QString texts;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box != nullptr && box->isVisible()) {
            Say(QStringLiteral("message box: ") + box->text().simplified());
            texts += box->text();
            box->done(QMessageBox::Ok);
        }
    }
    return texts;
}

// START with no test ticked: the window's box asks for one, in Korean and in English. The box
// waits for its button, so the screenshot is taken from a timer while it is shown.
QString StartWithoutATest(CVeltrixDlg& dialog, const QString& picture) {
    const veltrix::ui::DialogControls& c = dialog.controls();
    for (QCheckBox* box :
         {c.apCheck, c.emmcTest, c.dump, c.sdramTest, c.pmicOn, c.restoreBootImage}) {
        box->setChecked(false);
    }
    QString asked;
    QTimer::singleShot(1500, &dialog, [&] {
        Say(Screenshot(dialog, picture)
                ? QStringLiteral("screenshot: ") + picture
                : QStringLiteral("no screenshot could be saved: ") + picture);
        asked = CloseMessageBoxes();
    });
    c.start->click();
    WaitFor([&] { return !asked.isEmpty(); }, 5000);
    return asked;
}

// Selects the item that is `text`, or that starts with it and a space ("14  pts/3").
bool SelectText(QComboBox& combo, const QString& text) {
    for (int i = 0; i < combo.count(); ++i) {
        const QString item = combo.itemText(i);
        if (item == text || item.startsWith(text + QLatin1Char(' '))) {
            combo.setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

// Presses START with the AP check and the eMMC read check ticked; with `stopAfterMs` >= 0
// presses STOP that long after the run began. Returns the verdict the window shows.
QString RunOnce(CVeltrixDlg& dialog, int stopAfterMs, const QString& picture) {
    const veltrix::ui::DialogControls& c = dialog.controls();
    const veltrix::ui::PanelControls& p = dialog.panel().controls();
    c.apCheck->setChecked(true);
    c.emmcTest->setChecked(true);
    SelectText(*c.option, QStringLiteral("Read only"));
    c.start->click();
    if (!WaitFor([&] { return c.stop->isEnabled(); }, 10000)) {
        Say(QStringLiteral("START did not start a run"));
        return QString();
    }
    if (stopAfterMs >= 0) {
        QElapsedTimer running;
        running.start();
        WaitFor([&] { return !c.stop->isEnabled() || running.elapsed() >= stopAfterMs; }, 60000);
        if (!c.stop->isEnabled()) {
            Say(QStringLiteral("the run ended before STOP could be pressed"));
        } else {
            c.stop->click();
        }
    }
    const bool ended =
        WaitFor([&] { return !dialog.engine().InProgress() && !c.stop->isEnabled(); }, 120000);
    WaitFor([] { return false; }, 500);  // boxes and the banner drawn
    if (!ended) {
        Say(QStringLiteral("the run did not end within two minutes"));
    }
    Say(QStringLiteral("results: AP %1, eMMC %2, SDRAM %3")
            .arg(p.apResult->text(), p.emmcResult->text(), p.sdramResult->text()));
    Say(QStringLiteral("verdict: ") + p.verdict->text());
    for (const QString& line : p.runLog->Lines()) {
        Say(QStringLiteral("  | ") + line);
    }
    Say(Screenshot(dialog, picture) ? QStringLiteral("screenshot: ") + picture
                                    : QStringLiteral("no screenshot could be saved: ") + picture);
    CloseMessageBoxes();
    return ended ? p.verdict->text() : QString();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veltrix"));
    QApplication::setOrganizationName(QStringLiteral("Norvane"));
    if (argc != 5) {
        std::fputs("usage: window_session <model> <COM number> <target dir> <pictures dir>\n",
                   stderr);
        return 2;
    }
    const QString model = QString::fromLocal8Bit(argv[1]);
    const QString port = QString::fromLocal8Bit(argv[2]);
    const QString pictures = QString::fromLocal8Bit(argv[4]);
    QDir().mkpath(pictures);

    veltrix::app::CVeltrixApp app;
    std::unique_ptr<CVeltrixDlg> dialog = app.CreateMainDialog();
    QSettings settings(QStringLiteral("Norvane"), QStringLiteral("Veltrix"));
    veltrix::ui::StoredSettings stored = veltrix::ui::ReadStoredSettings(settings);
    stored.targetDir = QDir::toNativeSeparators(QString::fromLocal8Bit(argv[3]));
    dialog->SetStoredSettings(stored);
    dialog->show();
    const veltrix::ui::DialogControls& c = dialog->controls();
    if (!SelectText(*c.model, model) || !SelectText(*c.comPort, port)) {
        Say(QStringLiteral("the window does not list the model or the port"));
        return 1;
    }
    WaitFor([] { return false; }, 500);

    const QString first = RunOnce(*dialog, -1, pictures + QStringLiteral("/window-1.png"));
    const QString second = RunOnce(*dialog, 300, pictures + QStringLiteral("/window-2.png"));
    const QString asked = StartWithoutATest(*dialog, pictures + QStringLiteral("/window-3.png"));
    const bool good = first == QStringLiteral("PASS") &&
                      second.startsWith(QStringLiteral("ABORTED")) &&
                      asked.contains(QStringLiteral("Please select Test"));
    Say(good
            ? QStringLiteral("window session: run 1 PASS, run 2 stopped (ABORTED), START without a "
                             "test asked for one")
            : QStringLiteral("window session: the runs did not end as they should"));
    dialog.reset();
    return good ? 0 : 1;
}
