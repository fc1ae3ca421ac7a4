// SPDX-License-Identifier: MIT
#pragma once

#include <string>

// What the user's desktop session provides: its trash and thumbnail folders
// (XDG base folders) and the default program for a file (GIO).

namespace snapsift {

struct ShellResult {
    bool ok = false;
    std::string error;       // the system's own words when not ok
    bool noProgram = false;  // not ok because no program is registered for the file
};

// The user's own trash folder ("$XDG_DATA_HOME/Trash", by default
// "~/.local/share/Trash"), where files of the home's disk go.
std::string UserTrashFolder();

// The user's own thumbnail store ("$XDG_CACHE_HOME/thumbnails", by default
// "~/.cache/thumbnails"), as the Thumbnail Managing Standard places it.
std::string UserThumbnailFolder();

// Opens the file at `path` (raw bytes) with the desktop's default program for
// it. No shell is involved. Fails when no program is registered. Looks at the
// file to learn its type, so it may wait on the file's disk. Callable from
// any thread.
ShellResult OpenWithDefaultProgram(const std::string& path);

}  // namespace snapsift
