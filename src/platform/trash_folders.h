// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace snapsift {

// A trash folder of the freedesktop.org layout: "files" holds the trashed
// entries, "info" one NAME.trashinfo per entry.
struct TrashFolder {
    std::string path;
    // The tops that a relative Path= in its .trashinfo files is relative to:
    // the mount points of the file system it lies on (one trash folder can be
    // reached through several). Empty for the home trash, whose paths are
    // absolute.
    std::vector<std::string> tops;
};

// The trash folders of this user that exist now: the home trash
// ($XDG_DATA_HOME/Trash) and, at the top of each mounted file system other
// than the kernel's own, .Trash/$uid (where .Trash is a real folder with the
// sticky bit) and .Trash-$uid. Links are never followed, folders not owned by
// the user are left out, and each folder is listed once.
std::vector<TrashFolder> ListTrashFolders();

} // namespace snapsift
