// SPDX-License-Identifier: MIT
#pragma once

// What makes a file that file: its identity, and its state now.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace snapsift {

// Which file or folder a name led to: its device, as (major << 32) | minor
// (what statx gives, and what the deletion records keep), and its inode.
// All zero when unknown.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool Known() const { return device != 0 || inode != 0; }
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

struct FileIdentityHash {
    std::size_t operator()(const FileIdentity& id) const
    {
        return static_cast<std::size_t>(id.inode * 1000003u ^ id.device);
    }
};

// A device number of stat's st_dev in the one encoding.
std::uint64_t DeviceNumber(dev_t device);
FileIdentity IdentityOf(const struct stat& st);
FileIdentity IdentityOf(const struct statx& sx);

// True when both describe one file: the same device and inode.
bool SameFile(const struct stat& a, const struct stat& b);

// A moment as a file system stamps it: any 64-bit second, and nanoseconds.
struct FileTime {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;  // 0 to 999,999,999
    friend bool operator==(const FileTime&, const FileTime&) = default;
};
FileTime TimeOf(const struct timespec& t);
FileTime TimeOf(const struct statx_timestamp& t);
// The moment as one signed count of nanoseconds since 1970, saturated before
// 1677 and after 2262, where that count ends.
std::int64_t Nanoseconds(const FileTime& t);

// What a file is now: its identity, size and times.
struct FileState {
    FileIdentity identity;
    std::uint64_t size = 0;
    bool hasBirth = false;  // the file system keeps a birth time
    FileTime birth;         // zero where it keeps none
    FileTime modified;
    FileTime changed;
    mode_t mode = 0;  // the file's type and permissions
    friend bool operator==(const FileState&, const FileState&) = default;
};
FileState StateOf(const struct statx& sx);
// The state of the open file `fd`; empty when the system cannot say.
std::optional<FileState> StateOf(int fd);
// The state of `name` in the folder `dirFd`, a link not followed.
std::optional<FileState> StateAt(int dirFd, const char* name);

// True when `path` is a folder of this user's own, itself and not a link to
// one; `st`, when given, gets what lstat said.
bool IsOwnFolder(const std::string& path, struct stat* st = nullptr);

}  // namespace snapsift
