// SPDX-License-Identifier: MIT
#pragma once

#include "delete/deletion_log.h"
#include "platform/file_system.h"
#include "platform/trash.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace snapsift {

class Progress;
class ResultList;
class ResultView;

// Why a confirmed file was not moved to the trash.
enum class NotMovedReason {
    Changed,         // no longer the file the search found there
    Gone,            // nothing under its path any more
    Refused,         // no trash takes it, or the system refused; `refusal` says what stands in the way
    ChangedInTrash,  // another file was moved in its place and could not go back: it is at `trashEntry`
};

struct NotMoved {
    std::string path;
    NotMovedReason reason = NotMovedReason::Changed;
    std::string error;
    std::string trashEntry;  // ChangedInTrash
    TrashRefusal refusal;    // Refused
};

// A file this deletion moved, and where it went.
struct MovedFile {
    std::string path;
    TrashEntryPlace entry;
    FileFacts facts;  // of the file now in the trash
};

// What a deletion did.
struct DeleteOutcome {
    bool confirmed = false;   // the user confirmed and the command ran
    LogOutcome log = LogOutcome::Written;  // of the log asked for
    LogOutcome fallbackLog = LogOutcome::Written;  // of the fallback log, where it was tried
    std::string logPath;      // where the block went; empty when it went nowhere
    std::int64_t startTime = 0;
    std::vector<std::string> confirmedPaths;  // the block's paths
    int moved = 0;                  // files now in the trash
    std::vector<MovedFile> movedFiles;  // in the order confirmed
    std::vector<NotMoved> notMoved;  // in the order confirmed
    // The block is in the fallback log (the asked-for one gave `log`).
    bool LoggedElsewhere() const { return !logPath.empty() && log != LogOutcome::Written; }
    // Neither log took the block: nothing was moved.
    bool NotLogged() const { return confirmed && logPath.empty(); }
};

// The rows selected in the result list, in list order.
std::vector<int> SelectedListRows(const ResultList& list);
// The paths of list rows `listRows`, in that order: what the user confirms.
std::vector<std::string> ListedPaths(const ResultView& view, const std::vector<int>& listRows);

// Deletes the files of the confirmed list rows (as SelectedListRows gave them):
// appends one block naming their paths to the log at `logPath`, stamped
// `startTime`, moves each file to the trash, drops the rows of the moved files
// and rebuilds the list for the current choice. A file is moved only when it
// is still the regular file its row describes (the very file the search found
// there, with the same size and creation second), checked before the move
// and again in the trash; what is not moved keeps its row and is returned
// with its reason. When the log cannot be opened, locked or written, the
// block goes to the fallback log (FallbackDeletionLogPath) and the files are
// moved; when neither log takes it, nothing is moved and nothing changes.
// Nothing is ever deleted outright. While another process writes a log,
// waits for it, calling `progress.WhileWaiting()`. `hooks`, for tests,
// run around each file's move.
DeleteOutcome DeleteConfirmed(ResultView& view, const std::vector<int>& listRows, Progress& progress,
                              const std::string& logPath, std::int64_t startTime,
                              const TrashHooks& hooks = {});

} // namespace snapsift
