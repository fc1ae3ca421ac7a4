// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>

#include <string>

class QCoreApplication;

namespace snapsift {

// The program's icon (16 and 32 pixels), from the resources built into the
// window library. Never null in a complete build.
QIcon ProgramIcon();

// Loads Qt's own Japanese texts (standard buttons, edit-box context menus)
// into `application`. Returns false when Qt's translations are not installed;
// those texts then stay English.
bool InstallQtTranslations(QCoreApplication& application);

// One line for standard error when no installed font can show Japanese, naming
// the packages that provide one; empty when such a font exists. Needs a
// QGuiApplication.
std::string MissingJapaneseFontNote();

}  // namespace snapsift
