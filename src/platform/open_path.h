// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_system.h"

#include <cstddef>
#include <fcntl.h>
#include <string>
#include <sys/types.h>

namespace snapsift {

// How every folder is opened: for reading its entries, closed on exec.
inline constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

struct OpenPathOptions {
    bool makeMissing = false;  // make the folders missing on the way (mode 0777 less the umask)
    bool beneath = false;      // a relative path below `base` that never leaves it: no "", "." or ".." part
};

// Where a walk stopped, and why.
struct PathStop {
    enum class Kind {
        None,
        Failed,     // the system refused; `error` says why
        Link,       // a part is a symbolic link
        NotFolder,  // a part is something other than a folder
    };
    Kind kind = Kind::None;
    std::size_t end = 0;  // the path up to the end of the part where it stopped
    int error = 0;
};

// Opens the folder at `path` without following a link anywhere in it, its
// last part included: openat2 with RESOLVE_NO_SYMLINKS where the kernel has
// it, else one part at a time with O_NOFOLLOW, which works at any length. An
// absolute `path` starts at "/"; a relative one at `base`. Returns a closed
// handle on failure, with errno set (ELOOP or ENOTDIR where a link stands in
// the way) and, when `stop` is given, where and why it stopped.
FolderHandle OpenPathWithoutLinks(const std::string& path, const OpenPathOptions& options = {},
                                  PathStop* stop = nullptr, const FolderHandle* base = nullptr);

}  // namespace snapsift
