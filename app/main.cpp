// veltrix: the operator's window.
#include <QApplication>
#include <cstdio>
#include <new>

#include "app/veltrix_app.h"
#include "base/process_start.h"

int main(int argc, char** argv) {
    veltrix::PrepareProcess();
    try {
        QApplication application(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Veltrix"));
        QApplication::setOrganizationName(QStringLiteral("Norvane"));
        QApplication::setDesktopFileName(QStringLiteral("veltrix"));
        veltrix::app::CVeltrixApp app;
        app.InitInstance();
    } catch (const std::bad_alloc&) {
        // A run's worker ends its run as aborted and leaves its record; this is what is left.
        std::fputs("veltrix: the PC ran out of memory; the window was closed\n", stderr);
        return 1;
    }
    return 0;
}
