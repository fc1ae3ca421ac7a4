// SPDX-License-Identifier: MIT
#include "platform/trash_folders.h"

#include "platform/file_system.h"
#include "platform/mounts.h"
#include "platform/shell.h"

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <utility>

namespace snapsift {
namespace {

// True when `path` is a folder of this user's, reached without a link.
bool IsOwnFolder(const std::string& path, struct stat& st)
{
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid();
}

// .Trash at a top is shared by all users: a real folder with the sticky bit.
bool IsSharedTrash(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0;
}

} // namespace

std::vector<TrashFolder> ListTrashFolders()
{
    std::vector<TrashFolder> folders;
    std::map<std::pair<dev_t, ino_t>, std::size_t> seen;  // folder -> index in `folders`
    auto add = [&](const std::string& path, const std::string* top) {
        struct stat st {};
        if (!IsOwnFolder(path, st))
            return;
        const auto [it, fresh] = seen.try_emplace({st.st_dev, st.st_ino}, folders.size());
        if (fresh)
            folders.push_back(TrashFolder{path, {}});
        if (top)
            folders[it->second].tops.push_back(*top);
    };

    add(UserTrashFolder(), nullptr);
    const std::string uid = std::to_string(getuid());
    for (const MountEntry& mount : ReadMountTable()) {
        if (IsPseudoFileSystemType(mount.fsType) || mount.mountPoint.empty() || mount.mountPoint[0] != '/')
            continue;
        const std::string shared = JoinPath(mount.mountPoint, ".Trash");
        if (IsSharedTrash(shared))
            add(JoinPath(shared, uid), &mount.mountPoint);
        add(JoinPath(mount.mountPoint, ".Trash-" + uid), &mount.mountPoint);
    }
    return folders;
}

} // namespace snapsift
