// SPDX-License-Identifier: MIT
#pragma once

#include "platform/user_desktop.h"

#include <string>

namespace snapsift {

// GIO's own move to the trash (g_file_trash) of the file at `path`: the
// reference that the program's own trash entries are compared with, and a
// way to fill a trash the way a file manager does.
ShellResult MoveToTrash(const std::string& path);

}  // namespace snapsift
