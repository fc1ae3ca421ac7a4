#pragma once

#include <string>

namespace snapsift {

struct ShellResult {
    bool ok = false;
    std::string error;  // the system's own words when not ok
};

// Moves the file at `path` (raw bytes) to the user's trash, following the
// freedesktop.org trash specification. Never deletes: where no trash can take
// the file, it stays where it is and the result says why.
ShellResult MoveToTrash(const std::string& path);

// The user's own trash folder ("$XDG_DATA_HOME/Trash", by default
// "~/.local/share/Trash"), where MoveToTrash puts files of the home's disk.
std::string UserTrashFolder();

// Opens the file at `path` (raw bytes) with the desktop's default program for
// it. No shell is involved. Fails when no program is registered.
ShellResult OpenWithDefaultProgram(const std::string& path);

} // namespace snapsift
