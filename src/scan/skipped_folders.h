// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_system.h"

#include <optional>
#include <string>
#include <string_view>

namespace snapsift {

// The folders a search never enters, with everything below them:
// - trash folders, which hold no live copies: the user's own trash, any
//   user's ".local/share/Trash" in the searched tree, and ".Trash" and
//   ".Trash-UID" (any user's) at the top of a disk;
// - thumbnail stores, whose pictures are small copies made by programs: the
//   user's own ($XDG_CACHE_HOME/thumbnails), any ".cache/thumbnails" in the
//   searched tree, and every folder named ".thumbnails" or ".sh_thumbnails".
class SkippedFolders final {
public:
    // The user's own trash and thumbnail store, as the XDG base folders name them.
    static SkippedFolders ForThisUser();
    // With the given folders as the user's own; either may be missing.
    SkippedFolders(const std::string& userTrash, const std::string& userThumbnails);

    // Whether the parent of the folders asked about next is the top of a
    // disk, found out once, when a name needs it.
    struct ParentTop {
        bool known = false;
        bool top = false;
    };

    // Whether the subfolder `name` of the folder at `parentPath` is left out
    // by its name and place. `parent` is that folder, open, when at hand.
    bool SkipsByName(const std::string& parentPath, const FolderHandle* parent, ParentTop& parentTop,
                     std::string_view name) const;

    // Whether the folder that is `id` is left out whatever its name: the
    // user's own trash or thumbnail store.
    bool SkipsByIdentity(const FileIdentity& id) const;

    // Whether the search target itself, at its canonical path and open as
    // `target`, is left out: a trash or a thumbnail store, or a folder inside
    // a thumbnail store.
    bool SkipsTarget(const std::string& canonicalPath, const FolderHandle& target) const;

private:
    static bool IsTopTrashName(std::string_view name);
    static bool IsThumbnailName(std::string_view name);
    bool IsTopTrash(const std::string& parentPath, const FolderHandle* parent, ParentTop& parentTop) const;

    std::optional<FileIdentity> userTrash_;
    std::optional<FileIdentity> userThumbnails_;
    std::string userThumbnailsPath_;  // canonical, or empty when it is not there
};

}  // namespace snapsift
