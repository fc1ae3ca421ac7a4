// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace snapsift {

// The user's desktop folder as the desktop session names it (user-dirs.dirs,
// else ~/Desktop). It may not exist; it is never created.
std::string DesktopFolder();

}  // namespace snapsift
