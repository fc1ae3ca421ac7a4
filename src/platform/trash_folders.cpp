// SPDX-License-Identifier: MIT
#include "platform/trash_folders.h"

#include "platform/file_system.h"
#include "platform/mounts.h"
#include "platform/open_path.h"
#include "platform/trash.h"
#include "platform/user_desktop.h"

#include <gio/gunixmounts.h>
#include <glib.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace snapsift {
namespace {

// .Trash at a top is shared by all users: a real folder with the sticky bit.
bool IsSharedTrash(const std::string& path)
{
    struct stat st { };
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0;
}

constexpr int kFolderFlagsNoLink = kFolderFlags | O_NOFOLLOW;

// True when GIO counts the mount holding `path` as the system's own
// (/dev/shm, /run, /boot and the like), where it keeps no trash.
bool IsSystemInternalMount(const std::string& path)
{
    GUnixMountEntry* mount = g_unix_mount_for(path.c_str(), nullptr);
    if (!mount)
        return false;
    const bool internal = g_unix_mount_is_system_internal(mount);
    g_unix_mount_free(mount);
    return internal;
}

// The folders made while opening one trash, removed again when it cannot be
// used (the last made first).
class MadeFolders final {
public:
    void Add(int parent, std::string name) { made_.push_back({FolderHandle(dup(parent)), std::move(name)}); }
    void RemoveAll()
    {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            if (it->parent.IsOpen() && unlinkat(it->parent.Fd(), it->name.c_str(), AT_REMOVEDIR) == 0)
                fsync(it->parent.Fd());
        }
        made_.clear();
    }

private:
    struct Made {
        FolderHandle parent;
        std::string name;
    };
    std::vector<Made> made_;
};

TrashRefusal Refusal(TrashProblem problem, std::string where, int error = 0)
{
    return TrashRefusal{problem, std::move(where), error};
}

// Opens the folder `name` of `parent` (at `path`) as a part of a trash, making
// it when missing: only a real folder of the user's that nobody else may
// write to will do.
FolderHandle OpenTrashPart(int parent, const std::string& name, const std::string& path, MadeFolders& made,
                           TrashRefusal& refusal)
{
    int fd = openat(parent, name.c_str(), kFolderFlagsNoLink);
    if (fd < 0 && errno == ENOENT) {
        if (mkdirat(parent, name.c_str(), 0700) == 0) {
            made.Add(parent, name);
            fsync(parent);  // the new folder lasts before anything lands in it
        } else if (errno != EEXIST) {
            refusal = Refusal(TrashProblem::SystemError, path, errno);
            return {};
        }
        fd = openat(parent, name.c_str(), kFolderFlagsNoLink);
    }
    if (fd < 0) {
        const int error = errno;
        struct stat st { };
        if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
            refusal = Refusal(S_ISLNK(st.st_mode) ? TrashProblem::Link : TrashProblem::NotAFolder, path);
        else
            refusal = Refusal(TrashProblem::SystemError, path, error);
        return {};
    }
    FolderHandle folder(fd);
    struct stat st { };
    if (fstat(fd, &st) != 0)
        refusal = Refusal(TrashProblem::SystemError, path, errno);
    else if (st.st_uid != getuid())
        refusal = Refusal(TrashProblem::NotOwned, path);
    else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        refusal = Refusal(TrashProblem::OthersMayWrite, path);
    else
        return folder;
    return {};
}

// The trash folder `name` of `parent` with its files/ and info/, or why not.
WritableTrash OpenTrashIn(int parent, const std::string& name, const std::string& path, std::string top)
{
    WritableTrash t;
    MadeFolders made;
    const FolderHandle trash = OpenTrashPart(parent, name, path, made, t.refusal);
    if (trash.IsOpen())
        t.files = OpenTrashPart(trash.Fd(), "files", JoinPath(path, "files"), made, t.refusal);
    if (t.files.IsOpen())
        t.info = OpenTrashPart(trash.Fd(), "info", JoinPath(path, "info"), made, t.refusal);
    if (!t.info.IsOpen()) {
        t.files = {};
        made.RemoveAll();
        return t;
    }
    t.folder = path;
    t.top = std::move(top);
    return t;
}

// The highest folder above `parentPath` (itself included) on `device`: the
// top of its mount, or of its btrfs subvolume.
std::string TopOnDevice(const std::string& parentPath, dev_t device)
{
    std::string top = parentPath;
    while (top != "/") {
        const std::size_t slash = top.rfind('/');
        const std::string up = slash == 0 ? std::string("/") : top.substr(0, slash);
        struct stat st { };
        if (lstat(up.c_str(), &st) != 0 || st.st_dev != device)
            break;
        top = up;
    }
    return top;
}

}  // namespace

WritableTrash OpenWritableTrash(const std::string& parentPath, dev_t device)
{
    // The home trash, for files of its own file system. Its parent may be
    // reached through links (a home that is a link); the trash itself not.
    const std::string home = UserTrashFolder();
    const std::size_t slash = home.rfind('/');
    const std::string dataHome = slash == 0 ? std::string("/") : home.substr(0, slash);
    if (g_mkdir_with_parents(dataHome.c_str(), 0700) == 0) {
        const FolderHandle parent(open(dataHome.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat st { };
        if (parent.IsOpen() && fstat(parent.Fd(), &st) == 0 && st.st_dev == device)
            return OpenTrashIn(parent.Fd(), home.substr(slash + 1), home, {});
    }

    // Otherwise the trash at the top of the file's mount.
    WritableTrash none;
    const std::string top = TopOnDevice(parentPath, device);
    if (IsSystemInternalMount(top)) {
        none.refusal = Refusal(TrashProblem::SystemFileSystem, top);
        return none;
    }
    const FolderHandle topFolder = OpenPathWithoutLinks(top);
    if (!topFolder.IsOpen()) {
        none.refusal =
            Refusal(errno == ELOOP || errno == ENOTDIR ? TrashProblem::Link : TrashProblem::SystemError, top, errno);
        return none;
    }
    const std::string uid = std::to_string(getuid());
    struct stat shared { };
    if (fstatat(topFolder.Fd(), ".Trash", &shared, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(shared.st_mode) &&
        (shared.st_mode & S_ISVTX) != 0) {
        const FolderHandle sharedFolder(openat(topFolder.Fd(), ".Trash", kFolderFlagsNoLink));
        if (sharedFolder.IsOpen()) {
            WritableTrash t = OpenTrashIn(sharedFolder.Fd(), uid, JoinPath(JoinPath(top, ".Trash"), uid), top);
            if (!t.refusal.Refused())
                return t;
        }
    }
    const std::string name = ".Trash-" + uid;
    return OpenTrashIn(topFolder.Fd(), name, JoinPath(top, name), top);
}

std::vector<TrashFolder> ListTrashFolders()
{
    std::vector<TrashFolder> folders;
    std::map<std::pair<dev_t, ino_t>, std::size_t> seen;  // folder -> index in `folders`
    auto add = [&](const std::string& path, const std::string* top) {
        struct stat st { };
        if (!IsOwnFolder(path, &st))
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

std::string RefusalWords(const TrashRefusal& r)
{
    switch (r.problem) {
    case TrashProblem::None:
        return {};
    case TrashProblem::SystemFileSystem:
        return r.where + ": the system's own file system keeps no trash";
    case TrashProblem::Link:
        return r.where + ": a symbolic link, not a folder";
    case TrashProblem::NotAFolder:
        return r.where + ": not a folder";
    case TrashProblem::NotOwned:
        return r.where + ": belongs to another user";
    case TrashProblem::OthersMayWrite:
        return r.where + ": other users may write to it";
    case TrashProblem::OtherFileSystem:
    case TrashProblem::SystemError:
        return r.where + ": " + std::strerror(r.error);
    }
    return {};
}

}  // namespace snapsift
