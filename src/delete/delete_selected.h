#pragma once

#include "delete/deletion_log.h"

#include <cstdint>
#include <string>
#include <vector>

namespace snapsift {

class Progress;
class ResultList;
class ResultView;

// Why a confirmed file was not moved to the trash.
enum class NotMovedReason {
    Changed,  // no longer the file the search found there
    Gone,     // nothing under its path any more
    Refused,  // the trash refused it; `error` holds GIO's message
};

struct NotMoved {
    std::string path;
    NotMovedReason reason = NotMovedReason::Changed;
    std::string error;
};

// What a deletion did.
struct DeleteOutcome {
    LogOutcome log = LogOutcome::Written;
    int moved = 0;                  // files now in the trash
    std::vector<NotMoved> notMoved;  // in the order confirmed
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
// there, with the same size and creation second); what is not moved keeps
// its row and is returned with its reason. When writing the block fails,
// nothing is moved and nothing changes; when the log cannot be opened (or
// another process holds its lock for too long), the files are moved all the
// same and `log` says so. Nothing is ever deleted outright. While another
// process writes the log, waits for it, calling `progress.WhileWaiting()`.
DeleteOutcome DeleteConfirmed(ResultView& view, const std::vector<int>& listRows, Progress& progress,
                              const std::string& logPath, std::int64_t startTime);

} // namespace snapsift
