// SPDX-License-Identifier: MIT
#include "platform/file_system.h"

#include "platform/folder_entries.h"
#include "platform/mounts.h"
#include "platform/name_order.h"
#include "platform/open_path.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace snapsift {
namespace {

// Opens a path too long for one call by walking it in pieces that each fit.
FolderHandle OpenLongPath(const std::string& path, bool followLastLink)
{
    std::size_t pos = 0;
    FolderHandle base;
    if (!path.empty() && path[0] == '/') {
        base = FolderHandle(open("/", kFolderFlags));
        pos = 1;
    }
    constexpr std::size_t kPiece = PATH_MAX / 2;
    while (pos < path.size()) {
        std::size_t end = pos;
        std::size_t cut = std::string::npos;
        while (end < path.size() && end - pos < kPiece) {
            const std::size_t slash = path.find('/', end);
            const std::size_t next = slash == std::string::npos ? path.size() : slash;
            if (next - pos >= kPiece && cut != std::string::npos)
                break;
            cut = next;
            end = next + 1;
        }
        const std::string piece = path.substr(pos, cut - pos);
        const bool last = cut >= path.size();
        const int flags = kFolderFlags | ((last && !followLastLink) ? O_NOFOLLOW : 0);
        const int fd = openat(base.IsOpen() ? base.Fd() : AT_FDCWD, piece.c_str(), flags);
        if (fd < 0)
            return {};
        base = FolderHandle(fd);
        pos = cut + 1;
    }
    return base;
}

std::int64_t PickCreationTime(const struct statx& sx)
{
    if ((sx.stx_mask & STATX_BTIME) != 0)
        return sx.stx_btime.tv_sec;
    return sx.stx_mtime.tv_sec;
}

std::optional<FileFacts> StatAt(int dirFd, const char* name)
{
    struct statx sx { };
    if (statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
              STATX_TYPE | STATX_SIZE | STATX_BTIME | STATX_MTIME | STATX_INO, &sx) != 0)
        return std::nullopt;
    if (!S_ISREG(sx.stx_mode))
        return std::nullopt;
    return FileFacts{sx.stx_size, PickCreationTime(sx), IdentityOf(sx), (sx.stx_mask & STATX_BTIME) != 0};
}

}  // namespace

FolderHandle OpenFolder(const std::string& path, bool followLastLink)
{
    if (path.empty())
        return {};
    const int flags = kFolderFlags | (followLastLink ? 0 : O_NOFOLLOW);
    const int fd = open(path.c_str(), flags);
    if (fd >= 0)
        return FolderHandle(fd);
    if (errno == ENAMETOOLONG)
        return OpenLongPath(path, followLastLink);
    return {};
}

FolderHandle OpenSubfolder(const FolderHandle& parent, const std::string& name)
{
    if (!parent.IsOpen())
        return {};
    const int fd = openat(parent.Fd(), name.c_str(), kFolderFlags | O_NOFOLLOW);
    return fd >= 0 ? FolderHandle(fd) : FolderHandle();
}

FolderHandle OpenFolderBeneath(const FolderHandle& top, const std::string& relative)
{
    if (!top.IsOpen() || relative.empty())
        return {};
    return OpenPathWithoutLinks(relative, {.beneath = true}, nullptr, &top);
}

std::optional<FileIdentity> IdentifyFolder(const FolderHandle& folder)
{
    struct stat st { };
    if (!folder.IsOpen() || fstat(folder.Fd(), &st) != 0)
        return std::nullopt;
    return IdentityOf(st);
}

bool ListFolder(const FolderHandle& folder, std::vector<ListedEntry>& entries, FileFilter filter,
                const void* filterContext)
{
    entries.clear();
    if (!folder.IsOpen())
        return false;
    // A listing always starts at the beginning, even on a reused handle.
    const bool ok = EachFolderEntry(folder.Fd(), [&](const char* name, unsigned char type) {
        // The listing's kind is taken as it is; only where it gives none is
        // the entry looked at.
        if (type == DT_UNKNOWN) {
            struct stat st { };
            if (fstatat(folder.Fd(), name, &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0)
                return;  // gone since the listing
            type = S_ISDIR(st.st_mode) ? DT_DIR : (S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN);
        }
        if (type == DT_DIR) {
            entries.push_back(ListedEntry{name, EntryKind::Folder, 0});
        } else if (type == DT_REG) {
            const std::uint32_t tag = filter ? filter(name, filterContext) : 1;
            if (tag != 0)
                entries.push_back(ListedEntry{name, EntryKind::RegularFile, tag});
        }
    });
    std::sort(entries.begin(), entries.end(),
              [](const ListedEntry& a, const ListedEntry& b) { return CompareNames(a.name, b.name) < 0; });
    return ok;
}

std::optional<FileFacts> StatRegularFile(int dirFd, const char* name)
{
    return StatAt(dirFd, name);
}

std::optional<FileFacts> StatRegularFile(const std::string& path)
{
    if (path.size() < PATH_MAX)
        return StatAt(AT_FDCWD, path.c_str());
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::nullopt;
    const FolderHandle folder = OpenFolder(slash == 0 ? std::string("/") : path.substr(0, slash));
    if (!folder.IsOpen())
        return std::nullopt;
    return StatAt(folder.Fd(), path.c_str() + slash + 1);
}

std::optional<std::string> CanonicalFolderPath(const std::string& path)
{
    if (path.empty())
        return std::nullopt;
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        std::string canonical(resolved);
        std::free(resolved);
        return canonical;
    }
    std::string absolute = path;
    if (path[0] != '/') {
        std::vector<char> buffer(4096);
        while (getcwd(buffer.data(), buffer.size()) == nullptr) {
            if (errno != ERANGE)
                return std::nullopt;
            buffer.resize(buffer.size() * 2);
        }
        absolute = JoinPath(buffer.data(), path);
    }
    // Only "." and ".." make the kernel and GIO disagree: GIO removes them as
    // text, the kernel after following every link before them.
    for (std::size_t start = 0; start <= absolute.size();) {
        const std::size_t end = std::min(absolute.find('/', start), absolute.size());
        const std::string_view part(absolute.data() + start, end - start);
        if (part == "." || part == "..")
            return std::nullopt;
        start = end + 1;
    }
    while (absolute.size() > 1 && absolute.back() == '/')
        absolute.pop_back();
    return absolute;
}

bool IsMountTop(const FolderHandle& folder)
{
    if (!folder.IsOpen())
        return false;
    struct statx sx { };
    if (statx(folder.Fd(), "", AT_EMPTY_PATH, STATX_INO, &sx) == 0 &&
        (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT))
        return true;
    // GIO puts a disk's trash where the device number changes on the way up.
    struct stat self {
    }, parent{};
    if (fstat(folder.Fd(), &self) != 0 || fstatat(folder.Fd(), "..", &parent, 0) != 0)
        return false;
    return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder);
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    path.append(name);
    return path;
}

bool IsPseudoFileSystem(const FolderHandle& folder)
{
    struct statfs sf { };
    if (!folder.IsOpen() || fstatfs(folder.Fd(), &sf) != 0)
        return false;
    switch (static_cast<unsigned long>(sf.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case SECURITYFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case 0x19800202 /* mqueue */:
    case HUGETLBFS_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case AUTOFS_SUPER_MAGIC:
    case NSFS_MAGIC:
    case BINFMTFS_MAGIC:
    case 0x62656570 /* configfs */:
    case 0x65735543 /* fusectl */:
        return true;
    case TMPFS_MAGIC: {
        // devtmpfs reports the tmpfs magic; the mount table tells them apart.
        struct stat st { };
        if (fstat(folder.Fd(), &st) != 0)
            return false;
        const std::optional<std::string> type = FileSystemTypeOfDevice(st.st_dev);
        return type && IsPseudoFileSystemType(*type);
    }
    default:
        return false;
    }
}

}  // namespace snapsift
