// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace snapsift {

// The program's own help page, which ships with it: share/snapsift/help/
// beside the bin/ folder that holds the program (installed or built).
std::string HelpPagePath();

}  // namespace snapsift
