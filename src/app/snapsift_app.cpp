#include "app/snapsift_app.h"

#include "ui/snapsift_dlg.h"
#include "version.h"

#include <QApplication>

namespace snapsift {

int CSnapsiftApp::InitInstance(int& argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Snapsift"));
    QApplication::setApplicationVersion(QStringLiteral(SNAPSIFT_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("snapsift"));
    CSnapsiftDlg window;
    QApplication::setWindowIcon(window.windowIcon());
    window.exec();
    return 0;
}

} // namespace snapsift
