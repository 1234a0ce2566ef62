#pragma once
// The "Com Port" list with what is behind each port that exists: the same port listing as
// `veltrix-cli ports`, read again each time the list opens.

#include <QComboBox>
#include <QString>
#include <vector>

#include "link/port_list.h"

namespace veltrix::ui {

// A few words on what is behind the port: "board in download mode", "held by ModemManager (pid
// 812)", "missing", or its device ("ttyUSB3 usb 1a86:7523", "pts/4").
QString PortNote(const PortInfo& port);

// Refills the list: port n at position n - 1 for every n from 1 to 99, as "n" alone or
// "n  <note>" for a port that exists, with the whole PortSummary as its tooltip. The field keeps
// the text the operator left there (a typed port included).
void RefreshPortChoices(QComboBox& combo, const std::vector<PortInfo>& ports);

// The port to offer when the chosen one has nothing behind it and exactly one board in download
// mode is present; 0 when there is none to offer.
int DownloadModePortToOffer(int chosen, const std::vector<PortInfo>& ports);

}  // namespace veltrix::ui
