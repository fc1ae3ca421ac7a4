// SPDX-License-Identifier: MIT
#pragma once

namespace snapsift {

// The desktop program: builds the Qt application, runs the main window until
// it closes and returns the process's exit status.
class CSnapsiftApp final {
public:
    int InitInstance(int& argc, char** argv);
};

}  // namespace snapsift
