#include "ui/window_wording.h"

#include <QRegularExpression>

namespace veltrix::ui {

QString WindowWording(QString text) {
    if (!text.contains(QLatin1String("veltrix-cli"))) {
        return text;
    }
    struct Phrase {
        const char* cli;
        const char* window;
    };
    static const Phrase kPhrases[] = {
        {"'veltrix-cli ports' lists a board in download mode as usb 05c6:9008",
         "the Com Port list marks it \"board in download mode\" when it opens"},
        {"('veltrix-cli ports')", "(the Com Port list shows what is behind each port)"},
    };
    for (const Phrase& phrase : kPhrases) {
        text.replace(QLatin1String(phrase.cli), QLatin1String(phrase.window));
    }
    // Any other command named: the Com Port list is where the window answers such questions.
    static const QRegularExpression kCommand(QStringLiteral("[`']?veltrix-cli[^`',;)]*[`']?"));
    text.replace(kCommand, QStringLiteral("the Com Port list"));
    return text;
}

}  // namespace veltrix::ui
