// SPDX-License-Identifier: MIT
#pragma once

#include "delete/deletion_log.h"
#include "delete/deletion_record.h"
#include "platform/file_system.h"
#include "platform/trash.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <stop_token>
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

// Why a deletion moved nothing at all.
enum class DeleteStop {
    None,      // it ran
    NoLog,     // neither log could be opened, locked and written
    NoRecord,  // the record could not be begun (`recordError` says why)
};

// What a deletion did.
struct DeleteOutcome {
    bool confirmed = false;  // the user confirmed and the command ran
    DeleteStop stop = DeleteStop::None;
    LogOutcome log = LogOutcome::Written;          // of the log asked for
    LogOutcome fallbackLog = LogOutcome::Written;  // of the fallback log, where it was tried
    std::string logPath;                           // where the block went; empty when it went nowhere
    std::int64_t startTime = 0;
    std::vector<std::string> confirmedPaths;  // in the order confirmed
    int moved = 0;                            // files now in the trash
    std::vector<TrashedFile> movedFiles;      // in the order confirmed: the block's paths
    std::vector<NotMoved> notMoved;           // in the order confirmed
    std::string recordId;                     // the record of this deletion; empty when nothing moved
    std::string recordError;                  // why the record could not be begun or finished
    // The block is in the fallback log (the asked-for one gave `log`).
    bool LoggedElsewhere() const { return !logPath.empty() && log != LogOutcome::Written; }
    // Neither log took the block: nothing was moved.
    bool NotLogged() const { return confirmed && stop == DeleteStop::NoLog; }
    // Files moved, but no log took the block after the moves: the record alone names them.
    bool BlockLost() const { return moved > 0 && logPath.empty(); }
};

// The paths of list rows `listRows`, in that order: what the user confirms.
std::vector<std::string> ListedPaths(const ResultView& view, const std::vector<int>& listRows);
// The files of list rows `listRows` with the facts their table rows hold.
std::vector<ConfirmedFile> ConfirmedFiles(const ResultView& view, const std::vector<int>& listRows);

// Deletes the confirmed files. Before anything moves, the log at `logPath`
// is opened and locked and shown to take the block (else the fallback log,
// FallbackDeletionLogPath, is), and the deletion's record is begun; when
// neither log or no record can be written, nothing is moved. Then each file
// goes to the trash when it is still the regular file the search found there
// (identity, size and creation second), checked before the move and again in
// the trash; what is not moved is returned with its reason. Then one block,
// stamped `startTime`, naming only the moved files, is appended to the log,
// and the record is finished. A deletion that moves nothing writes neither.
// Nothing is ever deleted outright. While another process writes a log,
// waits up to `patience` for it, calling `progress.WhileWaiting()`. `hooks`,
// for tests, run around each file's move. Once `stop` is requested, no
// further file is begun: the one in hand is finished, and the block and the
// record name the files moved by then. The view is not touched: see
// RemoveMovedRows.
DeleteOutcome DeleteConfirmed(const std::vector<ConfirmedFile>& files, Progress& progress, const std::string& logPath,
                              std::int64_t startTime, const TrashHooks& hooks = {},
                              std::chrono::milliseconds patience = kLogLockPatience, const std::stop_token& stop = {});

// Applies a deletion to the view: for each confirmed path that was moved, the
// lowest table row that still carries it goes; then the list is rebuilt for
// the current choice.
void RemoveMovedRows(ResultView& view, const DeleteOutcome& outcome);

}  // namespace snapsift
