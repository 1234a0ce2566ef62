#pragma once
// The values the program keeps between sessions, in the user's profile under
// QSettings("Norvane", "Veltrix"): window position and size, the selected model and port
// indexes, the target directory, and how many READs a dump keeps in flight.

#include <QSettings>
#include <QString>

#include "protocol/programmer_session.h"

namespace veltrix::ui {

inline constexpr int kDefaultWidth = 556;
inline constexpr int kDefaultHeight = 632;

struct StoredSettings {
    // The window frame's top-left corner.
    int x = 0;
    int y = 0;
    // The window's size inside its frame, given back at the next start (the frame is the
    // desktop's, so a size with it would grow by the title bar at every start).
    int cx = kDefaultWidth;
    int cy = kDefaultHeight;
    // Index into the model list as displayed (sorted); -1 or out of range selects nothing.
    int apIndex = 0;
    // Index into the port list; 0 is port 1.
    int portIndex = 0;
    QString targetDir;
    // "Transfer/ReadWindow": READs a dump keeps in flight, 1 (one per exchange) to
    // kMaxReadWindow. Not shown in the window; a value out of range takes the default.
    int readWindow = kDefaultReadWindow;
};

// "C:\" where that folder exists, else the user's home folder.
QString DefaultTargetDir();

// Reads the values in their stored order; a missing value takes its default.
StoredSettings ReadStoredSettings(QSettings& settings);
void WriteStoredSettings(QSettings& settings, const StoredSettings& values);

}  // namespace veltrix::ui
