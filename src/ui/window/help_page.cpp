// SPDX-License-Identifier: MIT
#include "ui/window/help_page.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace snapsift {

std::string HelpPagePath()
{
    const QString path =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/snapsift/help/index.html"));
    return QFile::encodeName(path).toStdString();
}

}  // namespace snapsift
