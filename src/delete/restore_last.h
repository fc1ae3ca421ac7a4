#pragma once

#include "delete/deletion_log_reader.h"

#include <string>
#include <vector>

namespace snapsift {

class Progress;

enum class RestoreStatus {
    Restored,
    NotFound,        // no trash entry of this path deleted at or after the block's start
    Occupied,        // something is at the original path; the entry stays in the trash
    NotRegularFile,  // the entry in the trash is not a regular file; left alone
    BadTrashInfo,    // the entry's .trashinfo has no readable deletion date; left alone
    Failed,          // the system refused (see `error`); the entry stays in the trash
};

struct RestoreResult {
    std::string path;  // the original path, as logged
    RestoreStatus status = RestoreStatus::NotFound;
    std::string error;  // the system's words, for Failed
    std::string trashEntry;  // the entry chosen, where there was one
};

// Puts the files of one logged deletion back where they were. For each path
// the entry taken is, over every trash folder of the user (ListTrashFolders),
// the one whose .trashinfo names that original path with a deletion date no
// earlier than the deletion's start time, the latest when several do. A file
// goes back only when nothing is at its path (never overwriting); missing
// folders above it are created; the .trashinfo is removed only once the file
// is back. Nothing else is changed. One result per logged path, in order;
// the bar moves one step per path and ends at 0.
std::vector<RestoreResult> RestoreDeletion(const LoggedDeletion& deletion, Progress& progress);

} // namespace snapsift
