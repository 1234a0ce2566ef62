#pragma once
// CAboutDlg: the program's name, version and maker, from the window menu.

#include <QDialog>

namespace veltrix::ui {

class CAboutDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace veltrix::ui
