#include "ui/stored_settings.h"

#include <QDir>
#include <QFileInfo>

namespace veltrix::ui {
namespace {

constexpr const char* kX = "location/X";
constexpr const char* kY = "location/Y";
constexpr const char* kCx = "size/CX";
constexpr const char* kCy = "size/CY";
constexpr const char* kAp = "AP/AP";
constexpr const char* kPort = "COMport/port";
constexpr const char* kDir = "TargetDir/dir";
constexpr const char* kReadWindow = "Transfer/ReadWindow";
constexpr const char* kWindowsRoot = "C:\\";

// A stored integer, or the default when the value is missing or not a number.
int ReadInt(QSettings& settings, const char* key, int fallback) {
    bool ok = false;
    const int value = settings.value(key, fallback).toInt(&ok);
    return ok ? value : fallback;
}

}  // namespace

QString DefaultTargetDir() {
    return QFileInfo(QString::fromLatin1(kWindowsRoot)).isDir() ? QString::fromLatin1(kWindowsRoot)
                                                                : QDir::homePath();
}

StoredSettings ReadStoredSettings(QSettings& settings) {
    StoredSettings values;
    values.x = ReadInt(settings, kX, values.x);
    values.y = ReadInt(settings, kY, values.y);
    values.cx = ReadInt(settings, kCx, values.cx);
    values.cy = ReadInt(settings, kCy, values.cy);
    values.apIndex = ReadInt(settings, kAp, values.apIndex);
    values.portIndex = ReadInt(settings, kPort, values.portIndex);
    values.targetDir = settings.value(kDir, DefaultTargetDir()).toString();
    const int window = ReadInt(settings, kReadWindow, values.readWindow);
    values.readWindow = window >= 1 && window <= kMaxReadWindow ? window : kDefaultReadWindow;
    return values;
}

void WriteStoredSettings(QSettings& settings, const StoredSettings& values) {
    settings.setValue(kX, values.x);
    settings.setValue(kY, values.y);
    settings.setValue(kCx, values.cx);
    settings.setValue(kCy, values.cy);
    settings.setValue(kAp, values.apIndex);
    settings.setValue(kPort, values.portIndex);
    settings.setValue(kDir, values.targetDir);
    settings.setValue(kReadWindow, values.readWindow);
    settings.sync();
}

}  // namespace veltrix::ui
