#pragma once
// CVeltrixApp: the program's start-up. It reads the settings saved when the program last closed,
// runs the main dialog modally and ends when the dialog has closed; the dialog saves the
// settings as it is destroyed. There is no document and no command line: the dialog is the
// whole program.

#include <memory>

#include "ui/veltrix_dlg.h"

namespace veltrix::app {

class CVeltrixApp {
public:
    // The main dialog with the stored settings read into it, ready to be shown.
    std::unique_ptr<ui::CVeltrixDlg> CreateMainDialog();
    // Runs the dialog modally; returns false so the process ends once it has closed.
    bool InitInstance();
};

}  // namespace veltrix::app
