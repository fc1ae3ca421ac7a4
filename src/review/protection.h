// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace snapsift {

class FileTable;
class ResultView;

// Folders whose files are never chosen for deletion, nor deleted. A folder
// is known by its canonical path and by its device and inode, so that a
// link, a bind mount or a ".." that leads into it still finds it protected.
class ProtectedFolders final {
public:
    struct Folder {
        std::string path;  // canonical, or as given when it cannot be resolved
        bool identified = false;
        dev_t device = 0;
        ino_t inode = 0;
    };

    // Protects the folder at `path`. False when it is not an existing folder
    // (it is then protected by its path alone, for when it comes back).
    bool Add(const std::string& path);
    // Ends the protection of the folder at `path`, found by path or identity.
    void Remove(const std::string& path);
    // True when the folder at `path` is itself protected.
    bool IsProtected(const std::string& path) const;
    // True when the folder at `folderPath`, or one above it, is protected.
    bool Covers(const std::string& folderPath) const;

    bool Empty() const { return folders_.empty(); }
    const std::vector<Folder>& Folders() const { return folders_; }

private:
    int Find(const std::string& path) const;
    std::vector<Folder> folders_;
};

// Of the table rows `rows`, those whose files lie under a protected folder,
// in the order given.
std::vector<int> RowsUnderProtection(const FileTable& table, const std::vector<int>& rows,
                                     const ProtectedFolders& folders);
// The list rows a deletion was asked for, split: those it may move, and
// the paths of those under a protected folder, which it must not.
struct ProtectedSplit {
    std::vector<int> movable;  // list rows, in the order given
    std::vector<std::string> protectedPaths;
};
ProtectedSplit SplitProtected(const ResultView& view, const std::vector<int>& listRows,
                              const ProtectedFolders& folders);

// One flag per table row: set when its file lies under a protected folder.
std::vector<std::uint8_t> ProtectedRowFlags(const FileTable& table, const ProtectedFolders& folders);

} // namespace snapsift
