// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_system.h"

#include <string>
#include <sys/types.h>
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

// What keeps a trash folder (or a part of it) from taking files.
enum class TrashProblem {
    None,
    SystemFileSystem,  // `where` is a mount of the system's own (/dev/shm, /run, ...), which keeps no trash
    Link,              // `where` is a symbolic link
    NotAFolder,        // `where` is a file (or a device, a FIFO ...), not a folder
    NotOwned,          // `where` belongs to another user
    OthersMayWrite,    // the group or other users may write to `where`
    OtherFileSystem,   // the trash at `where` lies on another file system than the file
    SystemError,       // the system refused at `where`; errno in `error`
};

struct TrashRefusal {
    TrashProblem problem = TrashProblem::None;
    std::string where;  // the folder (or entry) that stands in the way
    int error = 0;      // errno, for SystemError and OtherFileSystem
    bool Refused() const { return problem != TrashProblem::None; }
};

// English words for what stands in the way, for logs and the command line.
std::string RefusalWords(const TrashRefusal& refusal);

// The trash that takes the files of one file system, opened for writing.
struct WritableTrash {
    TrashRefusal refusal;  // why none does; then nothing else is set
    std::string folder;    // the trash folder
    std::string top;       // the mount's top, for relative Path= lines; empty for the home trash
    FolderHandle files;
    FolderHandle info;
};

// Opens the trash for files in the folder `parentPath` on `device`: the home
// trash ($XDG_DATA_HOME/Trash) for its own file system, otherwise at the top
// of the file's mount .Trash/$uid (where .Trash is a real folder with the
// sticky bit) or else .Trash-$uid. Missing folders are made (0700) and their
// folder flushed. A trash folder, its files/ and its info/ are used only when
// each is a real folder (no link), the user's own, and not writable by the
// group or others; what was made here and cannot be used is removed again.
WritableTrash OpenWritableTrash(const std::string& parentPath, dev_t device);

}  // namespace snapsift
