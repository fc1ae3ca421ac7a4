// SPDX-License-Identifier: MIT
#pragma once

#include <cerrno>
#include <dirent.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace snapsift {

// The kernel's record of getdents64.
struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

// Reads every entry of the open folder, 64 KiB of them per call, and gives
// each but "." and ".." to `each(name, d_type)`: from the beginning, unless
// `rewind` is false for a folder just opened (whose reading starts there
// anyway, one system call fewer). False when the folder cannot be read to its
// end; the entries read before that were given.
template <typename Each>
bool EachFolderEntry(int fd, Each&& each, bool rewind = true)
{
    if (rewind && lseek(fd, 0, SEEK_SET) != 0)
        return false;
    alignas(LinuxDirent64) char buffer[64 * 1024];
    for (;;) {
        const long got = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (long offset = 0; offset < got;) {
            const auto* d = reinterpret_cast<const LinuxDirent64*>(buffer + offset);
            offset += d->d_reclen;
            const char* name = d->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            each(name, d->d_type);
        }
    }
}

}  // namespace snapsift
