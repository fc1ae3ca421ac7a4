// SPDX-License-Identifier: MIT
#include "platform/open_path.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace snapsift {
namespace {

// The kernel's walk in one call; -1 with errno when it cannot, or will not.
int OpenAtOnce(int start, const std::string& path, bool beneath)
{
    open_how how{};
    how.flags = static_cast<std::uint64_t>(kFolderFlags | O_NOFOLLOW);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | (beneath ? RESOLVE_BENEATH : 0);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const long fd = syscall(SYS_openat2, start, path.c_str(), &how, sizeof how);
        if (fd >= 0)
            return static_cast<int>(fd);
        if (errno != EAGAIN)
            break;  // EAGAIN: a rename raced the lookup; try again
    }
    return -1;
}

// Why a part could not be opened as a folder.
PathStop StopAt(int parent, const std::string& part, std::size_t end, int error)
{
    PathStop stop{PathStop::Kind::Failed, end, error};
    struct stat st { };
    if ((error == ELOOP || error == ENOTDIR) && fstatat(parent, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        stop.kind = S_ISLNK(st.st_mode) ? PathStop::Kind::Link : PathStop::Kind::NotFolder;
    return stop;
}

// One part at a time, none of them through a link.
FolderHandle OpenPartByPart(const std::string& path, const OpenPathOptions& options, PathStop& stop, int start)
{
    const bool absolute = !path.empty() && path[0] == '/';
    FolderHandle folder;
    if (absolute) {
        folder = FolderHandle(open("/", kFolderFlags));
        if (!folder.IsOpen()) {
            stop = PathStop{PathStop::Kind::Failed, 1, errno};
            return {};
        }
    }
    for (std::size_t begin = absolute ? 1 : 0; begin < path.size();) {
        const std::size_t end = std::min(path.find('/', begin), path.size());
        const std::string part = path.substr(begin, end - begin);
        begin = end + 1;
        if (options.beneath && (part.empty() || part == "." || part == "..")) {
            stop = PathStop{PathStop::Kind::Failed, end, EXDEV};
            errno = EXDEV;
            return {};
        }
        if (part.empty())
            continue;
        const int parent = folder.IsOpen() ? folder.Fd() : start;
        int fd = openat(parent, part.c_str(), kFolderFlags | O_NOFOLLOW);
        if (fd < 0 && errno == ENOENT && options.makeMissing) {
            if (mkdirat(parent, part.c_str(), 0777) != 0 && errno != EEXIST) {
                stop = PathStop{PathStop::Kind::Failed, end, errno};
                return {};
            }
            fd = openat(parent, part.c_str(), kFolderFlags | O_NOFOLLOW);
        }
        if (fd < 0) {
            const int error = errno;
            stop = StopAt(parent, part, end, error);
            errno = error;
            return {};
        }
        folder = FolderHandle(fd);
    }
    if (!folder.IsOpen()) {
        // Nothing but "/" or slashes: the start itself.
        folder = FolderHandle(absolute ? open("/", kFolderFlags) : openat(start, ".", kFolderFlags));
    }
    return folder;
}

}  // namespace

FolderHandle OpenPathWithoutLinks(const std::string& path, const OpenPathOptions& options, PathStop* stop,
                                  const FolderHandle* base)
{
    PathStop where;
    const bool absolute = !path.empty() && path[0] == '/';
    if (path.empty() || (!absolute && (base == nullptr || !base->IsOpen())) || (options.beneath && absolute)) {
        errno = EINVAL;
        if (stop)
            *stop = PathStop{PathStop::Kind::Failed, 0, EINVAL};
        return {};
    }
    const int start = absolute ? AT_FDCWD : base->Fd();
    // The kernel's one call, where nothing is to be made and no stop to be told.
    if (!options.makeMissing && stop == nullptr) {
        const int fd = OpenAtOnce(start, path, options.beneath);
        if (fd >= 0)
            return FolderHandle(fd);
        if (errno != ENOSYS && errno != ENAMETOOLONG && errno != EPERM && errno != EAGAIN)
            return {};
        // An older kernel, a sandbox that refuses the call, or a path too
        // long for one call.
    }
    FolderHandle folder = OpenPartByPart(path, options, where, start);
    if (stop)
        *stop = where;
    return folder;
}

}  // namespace snapsift
