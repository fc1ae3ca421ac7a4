// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_descriptor.h"
#include "platform/file_identity.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace snapsift {

// An open folder: the one owner of a descriptor, by the name the walk and
// the folders' callers know it.
using FolderHandle = FileDescriptor;

// Opens a folder by path, following a link only in the path's last part when
// `followLastLink` is true. Paths longer than the kernel takes in one call are
// opened piece by piece. Returns a closed handle on failure.
FolderHandle OpenFolder(const std::string& path, bool followLastLink = true);

// Opens the folder `name` inside `parent` without following a link.
FolderHandle OpenSubfolder(const FolderHandle& parent, const std::string& name);

// Opens the folder at `relative` (no ".", "..", or leading slash) below `top`
// without following a link anywhere on the way and without leaving `top`:
// a folder on the way that has become a link is not entered. Any length.
FolderHandle OpenFolderBeneath(const FolderHandle& top, const std::string& relative);

// Which folder an open handle is; empty when the system cannot say.
std::optional<FileIdentity> IdentifyFolder(const FolderHandle& folder);

// One entry of a listing. Links are never resolved: a link is neither a
// folder nor a file.
enum class EntryKind : std::uint8_t {
    Folder,
    RegularFile
};

struct ListedEntry {
    std::string name;
    EntryKind kind = EntryKind::RegularFile;
    std::uint32_t tag = 0;  // what the file filter said of it; 0 for folders
};

// Decides which regular files a listing keeps: returns 0 to drop the name,
// any other value to keep it with that tag.
using FileFilter = std::uint32_t (*)(std::string_view name, const void* context);

// Lists `folder`: every subfolder (no "." or "..", no links) and the regular
// files that `filter` keeps (all of them when `filter` is null), sorted in name
// order (see name_order.h). Returns false when the folder cannot be read;
// entries read before an error are kept.
bool ListFolder(const FolderHandle& folder, std::vector<ListedEntry>& entries, FileFilter filter = nullptr,
                const void* filterContext = nullptr);

// What a search records of a file.
struct FileFacts {
    std::uint64_t size = 0;
    std::int64_t creationTime = 0;  // seconds since 1970-01-01 UTC
    FileIdentity identity{};
    bool birthTime = false;  // creationTime is the file system's birth time (not the modification time)
};

// The facts of a regular file, looked at without following a link: the birth
// time where the file system keeps one, else the modification time. Empty when
// the name is gone or is not a regular file.
std::optional<FileFacts> StatRegularFile(int dirFd, const char* name);
std::optional<FileFacts> StatRegularFile(const std::string& path);

// The canonical absolute form of `path`, as the kernel resolves it (no ".",
// no "..", no link anywhere in it), for a folder that exists. A path that
// cannot be resolved keeps its absolute form when that holds neither "." nor
// ".." (a link in it then leads where the kernel and GIO agree it leads);
// else, or when the current directory is unknown, the result is empty.
std::optional<std::string> CanonicalFolderPath(const std::string& path);

// True when `folder` is the top folder of a mounted file system (or of a
// btrfs subvolume): where a trash of that disk lies.
bool IsMountTop(const FolderHandle& folder);

// Joins a folder path and a name with one slash.
std::string JoinPath(std::string_view folder, std::string_view name);

// True when the mounted file system holding `folder` is one a search never
// enters (proc, sysfs, devtmpfs and the like).
bool IsPseudoFileSystem(const FolderHandle& folder);

}  // namespace snapsift
