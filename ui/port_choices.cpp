#include "ui/port_choices.h"

#include <algorithm>

#include "link/ports/port_names.h"

namespace veltrix::ui {

QString PortNote(const PortInfo& port) {
    if (port.usbId == kDownloadModeUsbId) {
        return QStringLiteral("board in download mode");
    }
    if (!port.holders.empty()) {
        return QStringLiteral("held by %1").arg(QString::fromStdString(port.holders.front()));
    }
    if (port.target.empty()) {
        return QStringLiteral("missing");
    }
    // The device as the system names it below /dev ("ttyUSB3", "pts/4"), else its file name.
    std::filesystem::path device = port.target.lexically_relative("/dev");
    if (device.empty() || *device.begin() == "..") {
        device = port.target.filename();
    }
    QString note = QString::fromStdString(device.generic_string());
    if (!port.usbId.empty()) {
        note += QStringLiteral(" usb %1").arg(QString::fromStdString(port.usbId));
    }
    return note;
}

void RefreshPortChoices(QComboBox& combo, const std::vector<PortInfo>& ports) {
    const QString kept = combo.currentText();
    const bool typed = combo.currentIndex() < 0 || combo.itemText(combo.currentIndex()) != kept;
    const int selected = combo.currentIndex();
    combo.clear();
    for (int n = 1; n <= kHighestPortNumber; ++n) {
        const auto port = std::find_if(ports.begin(), ports.end(),
                                       [n](const PortInfo& p) { return p.number == n; });
        if (port == ports.end()) {
            combo.insertItem(n - 1, QString::number(n));
            continue;
        }
        combo.insertItem(n - 1, QStringLiteral("%1  %2").arg(n).arg(PortNote(*port)));
        combo.setItemData(n - 1, QString::fromStdString(PortSummary(*port)), Qt::ToolTipRole);
    }
    if (typed) {
        combo.setCurrentIndex(-1);
        combo.setEditText(kept);
    } else {
        combo.setCurrentIndex(selected);
    }
}

int DownloadModePortToOffer(int chosen, const std::vector<PortInfo>& ports) {
    if (chosen > 0 && PortDeviceExists(PortDevicePath(chosen))) {
        return 0;
    }
    int offer = 0;
    for (const PortInfo& port : ports) {
        if (port.usbId == kDownloadModeUsbId && !port.target.empty()) {
            if (offer != 0) {
                return 0;  // two boards: the operator chooses
            }
            offer = port.number;
        }
    }
    return offer;
}

}  // namespace veltrix::ui
