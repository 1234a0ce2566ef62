#pragma once
// The engine's words as the window says them: advice written for the command line names its
// commands ('veltrix-cli ports'); in the window the same help is its own Com Port list, which
// marks each port with what is behind it when it opens.

#include <QString>

namespace veltrix::ui {

// `text` with every mention of a veltrix-cli command put in the window's terms.
QString WindowWording(QString text);

}  // namespace veltrix::ui
