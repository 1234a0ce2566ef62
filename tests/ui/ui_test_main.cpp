// The dialog tests run on Qt's offscreen platform unless told otherwise (on Windows, on the
// Windows one).
#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>

namespace {

// The offscreen platform warns that it neither resizes windows to their hints, nor grabs the
// keyboard for a combo's list, nor raises that list; nothing else is dropped.
QtMessageHandler defaultHandler = nullptr;

void FilterMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (!text.contains(QLatin1String("propagateSizeHints")) &&
        !text.contains(QLatin1String("grabbing the keyboard")) &&
        !text.contains(QLatin1String("does not support raise()"))) {
        defaultHandler(type, context, text);
    }
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // On Windows the window is drawn by the Windows platform plugin, as on a technician's PC
    // (under Wine on the test display), and keeps its records in Qt's test-mode folders.
    QStandardPaths::setTestModeEnabled(true);
#else
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
#endif
    defaultHandler = qInstallMessageHandler(FilterMessages);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
