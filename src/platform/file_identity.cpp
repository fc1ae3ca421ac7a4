// SPDX-License-Identifier: MIT
#include "platform/file_identity.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace snapsift {
namespace {

constexpr unsigned kStateMask =
    STATX_TYPE | STATX_MODE | STATX_INO | STATX_SIZE | STATX_BTIME | STATX_MTIME | STATX_CTIME;

std::optional<FileState> StatxState(int dirFd, const char* name, int flags)
{
    struct statx sx { };
    if (statx(dirFd, name, flags | AT_NO_AUTOMOUNT, kStateMask, &sx) != 0)
        return std::nullopt;
    return StateOf(sx);
}

}  // namespace

std::uint64_t DeviceNumber(dev_t device)
{
    return (std::uint64_t{major(device)} << 32) | minor(device);
}

FileIdentity IdentityOf(const struct stat& st)
{
    return {DeviceNumber(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

FileIdentity IdentityOf(const struct statx& sx)
{
    return {(std::uint64_t{sx.stx_dev_major} << 32) | sx.stx_dev_minor, sx.stx_ino};
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

FileTime TimeOf(const struct timespec& t)
{
    return {static_cast<std::int64_t>(t.tv_sec), static_cast<std::int64_t>(t.tv_nsec)};
}

FileTime TimeOf(const struct statx_timestamp& t)
{
    return {t.tv_sec, static_cast<std::int64_t>(t.tv_nsec)};
}

std::int64_t Nanoseconds(const FileTime& t)
{
    constexpr std::int64_t kGiga = 1000000000;
    constexpr std::int64_t kLimit = INT64_MAX / kGiga - 1;
    const std::int64_t seconds = std::clamp<std::int64_t>(t.seconds, -kLimit, kLimit);
    return seconds * kGiga + std::clamp<std::int64_t>(t.nanoseconds, 0, kGiga - 1);
}

FileState StateOf(const struct statx& sx)
{
    FileState state;
    state.identity = IdentityOf(sx);
    state.size = sx.stx_size;
    state.hasBirth = (sx.stx_mask & STATX_BTIME) != 0;
    if (state.hasBirth)
        state.birth = TimeOf(sx.stx_btime);
    state.modified = TimeOf(sx.stx_mtime);
    state.changed = TimeOf(sx.stx_ctime);
    state.mode = sx.stx_mode;
    return state;
}

std::optional<FileState> StateOf(int fd)
{
    return StatxState(fd, "", AT_EMPTY_PATH);
}

std::optional<FileState> StateAt(int dirFd, const char* name)
{
    return StatxState(dirFd, name, AT_SYMLINK_NOFOLLOW);
}

bool IsOwnFolder(const std::string& path, struct stat* st)
{
    struct stat own { };
    struct stat& seen = st ? *st : own;
    return lstat(path.c_str(), &seen) == 0 && S_ISDIR(seen.st_mode) && seen.st_uid == getuid();
}

}  // namespace snapsift
