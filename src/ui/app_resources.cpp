// SPDX-License-Identifier: MIT
#include "ui/app_resources.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

// The icons are compiled into this static library; without an explicit
// reference the linker drops them from the program.
static void InitIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace snapsift {

QIcon ProgramIcon()
{
    static const bool initialised = (InitIconResources(), true);
    (void)initialised;
    QIcon icon;
    icon.addFile(QStringLiteral(":/snapsift/snapsift-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/snapsift/snapsift-16.png"), QSize(16, 16));
    return icon;
}

bool InstallQtTranslations(QCoreApplication& application)
{
    auto* translator = new QTranslator(&application);
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

std::string MissingJapaneseFontNote()
{
    if (!QFontDatabase::families(QFontDatabase::Japanese).isEmpty())
        return {};
    return "snapsift: no font for Japanese text is installed, so the window's labels show as boxes; "
           "install fonts-noto-cjk or fonts-ipafont-gothic (apt-get install fonts-noto-cjk)\n";
}

}  // namespace snapsift
