#include "app/veltrix_app.h"

#include <QSettings>

namespace veltrix::app {

std::unique_ptr<ui::CVeltrixDlg> CVeltrixApp::CreateMainDialog() {
    auto dialog = std::make_unique<ui::CVeltrixDlg>();
    QSettings settings(QStringLiteral("Norvane"), QStringLiteral("Veltrix"));
    dialog->SetStoredSettings(ui::ReadStoredSettings(settings));
    return dialog;
}

bool CVeltrixApp::InitInstance() {
    auto dialog = CreateMainDialog();
    dialog->exec();
    return false;
}

}  // namespace veltrix::app
