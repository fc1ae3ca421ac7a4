// SPDX-License-Identifier: MIT
#pragma once

#include "delete/deletion_log_reader.h"
#include "delete/deletion_record.h"
#include "platform/file_system.h"
#include "platform/trash.h"

#include <optional>
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
    LinkInPath,      // a link stands where a folder of the original path was; the entry stays
    EntryChanged,    // the entry is no longer the file that was moved; left alone
    Failed,          // the system refused (see `error`); the entry stays in the trash
    FileInPath,      // a file (not a folder, not a link) stands where a folder of the original path was
    Ambiguous,       // more than one entry of this path fits the block's time; none is taken
};

struct RestoreResult {
    std::string path;  // the original path, as logged
    RestoreStatus status = RestoreStatus::NotFound;
    std::string error;       // the system's words, for Failed; the link's or file's path, for LinkInPath and FileInPath
    std::string trashEntry;  // the entry chosen, where there was one
    std::string failedAt;    // Failed: what the system refused to make or move
    int errorNumber = 0;     // Failed: its errno, for words of the reader's language
};

// Puts the files of one logged deletion back where they were, for a block
// that has no record. For each path the entry taken is, over every trash
// folder of the user (ListTrashFolders), the one whose .trashinfo names that
// original path with a deletion date no earlier than the deletion's start
// time, under either reading of a repeated hour (a date with a zone is read
// in it); when more than one does, none is taken (Ambiguous). Only entries
// whose file and .trashinfo belong to the user and whose date is not later
// than 14 hours and a minute from now (a change of zone since) count. A file
// goes back only when nothing is at its path (never overwriting) and only
// through real folders: its folders are opened from "/" without following a
// link, and missing ones are made there. The .trashinfo is removed only once
// the file is back. Nothing else is changed. One result per logged path, in
// order; the bar moves one step per path and ends at 0.
std::vector<RestoreResult> RestoreDeletion(const LoggedDeletion& deletion, Progress& progress);

// Puts exactly these entries back, each only while it is still the file that
// was moved (same identity, size and creation second) and its .trashinfo is
// there and the user's, and checked again once back; otherwise as
// RestoreDeletion.
std::vector<RestoreResult> RestoreTrashed(const std::vector<TrashedFile>& files, Progress& progress);

// The last block of a log and the record of that deletion, where one is kept.
struct LastLoggedDeletion {
    LoggedDeletion block;
    std::optional<DeletionRecord> record;
};
LogReadOutcome ReadLastLoggedDeletion(const std::string& logPath, LastLoggedDeletion& last);

// Undoes the last deletion of a log: the entries of its record, else by the
// rule of RestoreDeletion.
std::vector<RestoreResult> RestoreLastLogged(const LastLoggedDeletion& last, Progress& progress);

}  // namespace snapsift
