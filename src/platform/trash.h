// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_system.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>

namespace snapsift {

// Where a file went in the trash: the trash folder, and the entry's name in
// its files/ (its .trashinfo is info/NAME.trashinfo).
struct TrashEntryPlace {
    std::string folder;
    std::string name;
    std::string FilePath() const;
    std::string InfoPath() const;
};

enum class TrashStatus {
    Moved,            // in the trash, and proved to be the confirmed file
    Changed,          // not the confirmed file (before the move, or after it and put back)
    Gone,             // nothing under its path any more
    ChangedInTrash,   // something else was moved and could not go back: it stays in `entry`
    NoTrash,          // no trash can take it here; `error` says why
    Failed,           // the system refused; `error` holds its words
};

struct TrashOutcome {
    TrashStatus status = TrashStatus::Failed;
    std::string error;
    TrashEntryPlace entry;  // Moved and ChangedInTrash
    FileFacts moved{};      // what went to the trash (Moved)
};

// The .trashinfo text for `path`: "[Trash Info]", Path= (escaped as GIO
// escapes it: every byte that is not printable ASCII as %XX) and
// DeletionDate= in local time, each line ended by LF.
std::string TrashInfoText(std::string_view path, std::int64_t deletionTime);

struct TrashHooks {
    std::function<void(const std::string&)> beforeMove;
    std::function<void(const std::string&)> afterMove;
};

// Moves files to the freedesktop.org trash, one deletion at a time. Each file
// goes to the trash of its own file system: the home trash
// ($XDG_DATA_HOME/Trash) for files on its device, otherwise at the top of the
// file's mount .Trash/$uid (where .Trash is a real folder with the sticky bit)
// or .Trash-$uid (made 0700, the user's own). Never across file systems, never
// a copy, never a delete. An entry's name is claimed by creating its
// .trashinfo with O_EXCL; the file is moved from the folder that was checked,
// by descriptor, and the moved entry is checked again afterwards.
class TrashWriter final {
public:
    TrashWriter();
    ~TrashWriter();
    TrashWriter(const TrashWriter&) = delete;
    TrashWriter& operator=(const TrashWriter&) = delete;

    // Moves the regular file at the absolute path `path` when it is still
    // `confirmed` (its identity where known, size and creation second). A
    // link anywhere in the path makes it Changed.
    TrashOutcome Move(const std::string& path, const FileFacts& confirmed);

    // For tests: what runs between the check and the move, and between the
    // move and the proof, given the path.
    TrashHooks hooks;

private:
    struct Target;
    Target& TargetFor(const std::string& parentPath, dev_t device);
    FolderHandle& ParentOf(const std::string& folder);

    std::map<dev_t, std::unique_ptr<Target>> targets_;
    std::string cachedFolder_;
    FolderHandle cachedParent_;
};

// Opens the folder at the absolute `path` without following a link anywhere
// in it. Fails with ELOOP or ENOTDIR where a link stands in the way.
FolderHandle OpenFolderWithoutLinks(const std::string& path);

} // namespace snapsift
