// SPDX-License-Identifier: MIT
#include "app/snapsift_app.h"

#include "platform/memory.h"
#include "ui/app_resources.h"
#include "ui/window/snapsift_dlg.h"
#include "version.h"

#include <QApplication>

#include <cstdio>
#include <string>

namespace snapsift {

int CSnapsiftApp::InitInstance(int& argc, char** argv)
{
    LimitMemoryPools();  // before Qt's threads and the window's own start
    QApplication application(argc, argv);
    const std::string fontNote = MissingJapaneseFontNote();
    if (!fontNote.empty())
        std::fputs(fontNote.c_str(), stderr);
    InstallQtTranslations(application);
    QApplication::setApplicationName(QStringLiteral("Snapsift"));
    QApplication::setApplicationVersion(QStringLiteral(SNAPSIFT_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("snapsift"));
    CSnapsiftDlg window;
    QApplication::setWindowIcon(window.windowIcon());
    window.exec();
    EndProgram(0);
}

}  // namespace snapsift
