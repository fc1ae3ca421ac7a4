// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_identity.h"
#include "platform/mounts.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace snapsift {

class FileTable;
class ResultView;

// Folders whose files are never chosen for deletion, nor deleted. A folder
// is known by its canonical path, by its device and inode, and by its place
// in its own file system, so that a link, a bind mount (either way round),
// a second mount of its device or a ".." that leads into it still finds it
// protected.
class ProtectedFolders final {
public:
    struct Folder {
        std::string path;       // canonical, or as given when it cannot be resolved
        std::string given;      // the text Add was given, when this run added it
        FileIdentity identity;  // unknown when Add found no folder at the path
        // Non-empty when the folder was kept as written because its written
        // form could not be read as a path; `path` then holds the best reading.
        std::string written;
    };

    // Protects the folder at `path`. False when it is not an existing folder
    // (it is then protected by its path alone, for when it comes back).
    bool Add(const std::string& path);
    // Protects a folder by a path kept earlier in its canonical form, without
    // looking at the disk. `written`: see Folder.
    void AddKept(const std::string& path, const std::string& written = {});
    // Ends the protection of the folder at `path`, found by path or identity.
    void Remove(const std::string& path);
    // True when the folder at `path` is itself protected.
    bool IsProtected(const std::string& path) const;
    // True when `path` names a protected folder by its text alone (as given
    // or canonical), without looking at the disk.
    bool NamesProtected(const std::string& path) const;
    // True when the folder at `folderPath`, or one above it, is protected.
    // Resolves the path first; ProtectionRule decides canonical paths
    // without touching the disk.
    bool Covers(const std::string& folderPath) const;

    bool Empty() const { return folders_.empty(); }
    const std::vector<Folder>& Folders() const { return folders_; }

private:
    int Find(const std::string& path) const;
    std::vector<Folder> folders_;
};

// The one rule of protection, folder by folder: a folder is covered when its
// path as seen lies at or below a protected folder's path, or when its place
// in its own file system lies at or below a protected folder's place. The
// places come from the mount table given; nothing else is read, and each
// folder is decided once per rule. With `resolveKept`, each protected folder
// kept from an earlier run is also resolved once (a realpath), for a path
// written with a link in it; nothing else touches a disk.
class ProtectionRule final {
public:
    ProtectionRule(const ProtectedFolders& folders, std::vector<MountEntry> mounts, bool resolveKept = false);
    // `folderPath`: absolute and canonical, as the scan's folder paths are.
    bool Covers(const std::string& folderPath);
    bool Empty() const { return paths_.empty(); }

private:
    // Texts looked up by a view of them, without a copy.
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    using TextSet = std::unordered_set<std::string, TextHash, std::equal_to<>>;

    bool Decide(const std::string& folderPath) const;
    void Protect(const std::string& path);
    MountLocator mounts_;
    TextSet paths_;  // the protected folders' paths
    // Their places: per device (major, minor), the paths in that file system.
    std::unordered_map<std::uint64_t, TextSet> places_;
    std::unordered_map<std::string, bool> decided_;
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

}  // namespace snapsift
