#pragma once
// The windows the main window and its board panels open, behind one seam so tests can answer
// them.

#include <QString>
#include <QWidget>
#include <functional>

namespace veltrix::ui {

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
    // The save-file dialog for the run log, offering `suggested`; empty text when cancelled.
    std::function<QString(QWidget* parent, const QString& suggested)> pickSaveFile;
    // Opens a folder in the desktop's file manager.
    std::function<void(const QString& folder)> openFolder;
};
DialogSeams DefaultDialogSeams();

}  // namespace veltrix::ui
