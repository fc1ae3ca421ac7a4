// SPDX-License-Identifier: MIT
#include "platform/trash.h"

#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/shell.h"

#include <gio/gunixmounts.h>
#include <glib.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace snapsift {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW;

std::string Errno(int error)
{
    return std::strerror(error);
}

// The entry name GIO gives the n-th file of one name: "p.jpg", "p.2.jpg",
// "p.3.jpg", … with the number before the first dot.
std::string NumberedName(const std::string& base, unsigned n)
{
    if (n <= 1)
        return base;
    const std::size_t dot = base.find('.');
    if (dot == std::string::npos)
        return base + "." + std::to_string(n);
    return base.substr(0, dot) + "." + std::to_string(n) + base.substr(dot);
}

// Makes the folder `name` in `parent` (mode 0700) unless it is there, and
// opens it without following a link.
FolderHandle MakeAndOpen(int parent, const char* name, int& error)
{
    if (mkdirat(parent, name, 0700) != 0 && errno != EEXIST) {
        error = errno;
        return {};
    }
    const int fd = openat(parent, name, kFolderFlags);
    error = fd < 0 ? errno : 0;
    return FolderHandle(fd);
}

bool IsOwnFolder(int fd)
{
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid();
}

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

bool SameFile(const FileFacts& a, const FileFacts& b)
{
    return a.identity == b.identity && a.size == b.size && a.creationTime == b.creationTime;
}

} // namespace

std::string TrashEntryPlace::FilePath() const
{
    return JoinPath(JoinPath(folder, "files"), name);
}

std::string TrashEntryPlace::InfoPath() const
{
    return JoinPath(JoinPath(folder, "info"), name + ".trashinfo");
}

std::string TrashInfoText(std::string_view path, std::int64_t deletionTime)
{
    const std::string raw(path);
    gchar* escaped = g_uri_escape_string(raw.c_str(), "/", FALSE);
    std::string text = "[Trash Info]\nPath=";
    text += escaped;
    g_free(escaped);
    text += "\nDeletionDate=";
    text += FormatLocalTime(deletionTime, "%Y-%m-%dT%H:%M:%S");
    text += "\n";
    return text;
}

FolderHandle OpenFolderWithoutLinks(const std::string& path)
{
    if (path.empty() || path[0] != '/') {
        errno = EINVAL;
        return {};
    }
    struct open_how how {};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    if (fd >= 0)
        return FolderHandle(static_cast<int>(fd));
    if (errno != ENOSYS && errno != ENAMETOOLONG && errno != EPERM)
        return {};
    // One step at a time, none of them through a link.
    FolderHandle folder(open("/", kFolderFlags));
    for (std::size_t start = 1; folder.IsOpen() && start < path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start) {
            const std::string part = path.substr(start, end - start);
            folder = FolderHandle(openat(folder.Fd(), part.c_str(), kFolderFlags));
        }
        start = end + 1;
    }
    return folder;
}

// One trash folder, open, with the numbers already used for each name during
// this deletion.
struct TrashWriter::Target {
    std::string refusal;   // why no trash takes files of this file system; empty when one does
    std::string folder;    // the trash folder
    std::string top;       // the mount's top for Path=; empty in the home trash (absolute paths)
    FolderHandle files;
    FolderHandle info;
    std::unordered_map<std::string, unsigned> lastNumber;
};

TrashWriter::TrashWriter() = default;
TrashWriter::~TrashWriter() = default;

FolderHandle& TrashWriter::ParentOf(const std::string& folder)
{
    if (folder != cachedFolder_ || !cachedParent_.IsOpen()) {
        cachedFolder_ = folder;
        FolderHandle opened = OpenFolderWithoutLinks(folder);
        const int error = errno;
        cachedParent_ = std::move(opened);
        errno = error;
    }
    return cachedParent_;
}

TrashWriter::Target& TrashWriter::TargetFor(const std::string& parentPath, dev_t device)
{
    auto& slot = targets_[device];
    if (slot)
        return *slot;
    slot = std::make_unique<Target>();
    Target& t = *slot;
    auto openParts = [&t](FolderHandle trash, const std::string& folder) {
        int error = 0;
        t.files = MakeAndOpen(trash.Fd(), "files", error);
        if (t.files.IsOpen())
            t.info = MakeAndOpen(trash.Fd(), "info", error);
        if (!t.files.IsOpen() || !t.info.IsOpen())
            t.refusal = folder + ": " + Errno(error);
        t.folder = folder;
    };

    // The home trash, for files of its own file system.
    const std::string home = UserTrashFolder();
    if (g_mkdir_with_parents(home.c_str(), 0700) == 0) {
        FolderHandle trash(open(home.c_str(), kFolderFlags));
        struct stat st {};
        if (trash.IsOpen() && fstat(trash.Fd(), &st) == 0 && st.st_dev == device) {
            openParts(std::move(trash), home);
            return t;
        }
    }

    // Otherwise the trash at the top of the file's mount: the highest folder
    // above it on the same device.
    std::string top = parentPath;
    for (;;) {
        if (top == "/")
            break;
        const std::size_t slash = top.rfind('/');
        const std::string up = slash == 0 ? std::string("/") : top.substr(0, slash);
        struct stat st {};
        if (lstat(up.c_str(), &st) != 0 || st.st_dev != device)
            break;
        top = up;
    }
    if (IsSystemInternalMount(top)) {
        t.refusal = top + ": the system's own file system keeps no trash";
        return t;
    }
    const FolderHandle topFolder = OpenFolderWithoutLinks(top);
    if (!topFolder.IsOpen()) {
        t.refusal = top + ": " + Errno(errno);
        return t;
    }
    const std::string uid = std::to_string(getuid());
    t.top = top;
    struct stat shared {};
    if (fstatat(topFolder.Fd(), ".Trash", &shared, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(shared.st_mode) &&
        (shared.st_mode & S_ISVTX) != 0) {
        const FolderHandle sharedFolder(openat(topFolder.Fd(), ".Trash", kFolderFlags));
        int error = 0;
        FolderHandle own = sharedFolder.IsOpen() ? MakeAndOpen(sharedFolder.Fd(), uid.c_str(), error) : FolderHandle();
        if (own.IsOpen() && IsOwnFolder(own.Fd())) {
            openParts(std::move(own), JoinPath(JoinPath(top, ".Trash"), uid));
            if (t.refusal.empty())
                return t;
        }
    }
    t.refusal.clear();
    const std::string name = ".Trash-" + uid;
    int error = 0;
    FolderHandle own = MakeAndOpen(topFolder.Fd(), name.c_str(), error);
    if (!own.IsOpen()) {
        t.refusal = JoinPath(top, name) + ": " + Errno(error);
        return t;
    }
    if (!IsOwnFolder(own.Fd())) {
        t.refusal = JoinPath(top, name) + ": not a folder of this user's";
        return t;
    }
    openParts(std::move(own), JoinPath(top, name));
    return t;
}

TrashOutcome TrashWriter::Move(const std::string& path, const FileFacts& confirmed)
{
    TrashOutcome out;
    const std::size_t slash = path.rfind('/');
    if (path.empty() || path[0] != '/' || slash == std::string::npos || slash + 1 == path.size()) {
        out.status = TrashStatus::Gone;
        return out;
    }
    const std::string folderPath = slash == 0 ? std::string("/") : path.substr(0, slash);
    const std::string base = path.substr(slash + 1);
    FolderHandle& parent = ParentOf(folderPath);
    if (!parent.IsOpen()) {
        out.status = errno == ENOENT ? TrashStatus::Gone : TrashStatus::Changed;
        return out;
    }

    // The check: still the confirmed file, in this very folder.
    errno = 0;
    const auto checked = StatRegularFile(parent.Fd(), base.c_str());
    if (!checked) {
        out.status = errno == ENOENT ? TrashStatus::Gone : TrashStatus::Changed;
        return out;
    }
    if ((confirmed.identity.Known() && checked->identity != confirmed.identity) || checked->size != confirmed.size ||
        checked->creationTime != confirmed.creationTime) {
        out.status = TrashStatus::Changed;
        return out;
    }
    struct stat folderStat {};
    if (fstat(parent.Fd(), &folderStat) != 0) {
        out.status = TrashStatus::Failed;
        out.error = Errno(errno);
        return out;
    }
    Target& target = TargetFor(folderPath, folderStat.st_dev);
    if (!target.refusal.empty()) {
        out.status = TrashStatus::NoTrash;
        out.error = target.refusal;
        return out;
    }
    const std::string original = target.top.empty() ? path : path.substr(target.top == "/" ? 1 : target.top.size() + 1);

    // Claim a free name with its .trashinfo, then move the file under it.
    unsigned& last = target.lastNumber[base];
    bool hookRun = false;
    for (unsigned n = last + 1;; ++n) {
        const std::string name = NumberedName(base, n);
        const std::string infoName = name + ".trashinfo";
        const int fd = openat(target.info.Fd(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                              0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            out.status = TrashStatus::Failed;
            out.error = JoinPath(JoinPath(target.folder, "info"), infoName) + ": " + Errno(errno);
            return out;
        }
        const bool written = WriteAll(fd, TrashInfoText(original, CurrentTime()));
        const int writeError = errno;
        if (close(fd) != 0 || !written) {
            unlinkat(target.info.Fd(), infoName.c_str(), 0);
            out.status = TrashStatus::Failed;
            out.error = JoinPath(JoinPath(target.folder, "info"), infoName) + ": " + Errno(written ? errno : writeError);
            return out;
        }
        last = n;
        if (hooks.beforeMove && !hookRun) {
            hookRun = true;
            hooks.beforeMove(path);
        }
        int moved = renameat2(parent.Fd(), base.c_str(), target.files.Fd(), name.c_str(), RENAME_NOREPLACE);
        if (moved != 0 && errno == EINVAL) {
            // A file system that cannot refuse to replace: look first.
            struct stat st {};
            if (fstatat(target.files.Fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                errno = EEXIST;
            else
                moved = renameat(parent.Fd(), base.c_str(), target.files.Fd(), name.c_str());
        }
        if (moved != 0) {
            const int error = errno;
            unlinkat(target.info.Fd(), infoName.c_str(), 0);
            if (error == EEXIST)
                continue;  // an entry without its .trashinfo holds the name
            out.status = error == ENOENT ? TrashStatus::Gone : error == EXDEV ? TrashStatus::NoTrash : TrashStatus::Failed;
            out.error = error == EXDEV ? target.folder + ": " + Errno(error) : Errno(error);
            return out;
        }

        if (hooks.afterMove)
            hooks.afterMove(path);
        // The proof: what now stands in the trash is the file that was checked.
        out.entry = TrashEntryPlace{target.folder, name};
        const auto now = StatRegularFile(target.files.Fd(), name.c_str());
        if (now && SameFile(*now, *checked)) {
            out.status = TrashStatus::Moved;
            out.moved = *now;
            return out;
        }
        if (renameat2(target.files.Fd(), name.c_str(), parent.Fd(), base.c_str(), RENAME_NOREPLACE) == 0) {
            unlinkat(target.info.Fd(), infoName.c_str(), 0);
            out.status = TrashStatus::Changed;
            out.entry = {};
            return out;
        }
        out.status = TrashStatus::ChangedInTrash;
        out.error = Errno(errno);
        return out;
    }
}

} // namespace snapsift
