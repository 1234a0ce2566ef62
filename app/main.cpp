// veltrix: the operator's window.
#include <QApplication>

#include "app/veltrix_app.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veltrix"));
    QApplication::setOrganizationName(QStringLiteral("Norvane"));
    QApplication::setDesktopFileName(QStringLiteral("veltrix"));
    veltrix::app::CVeltrixApp app;
    app.InitInstance();
    return 0;
}
