// SPDX-License-Identifier: MIT
#include "delete/delete_selected.h"

#include "delete/deletion_log.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/progress.h"
#include "review/result_view.h"

#include <cerrno>
#include <deque>
#include <string_view>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace snapsift {

std::vector<std::string> ListedPaths(const ResultView& view, const std::vector<int>& listRows)
{
    std::vector<std::string> paths;
    paths.reserve(listRows.size());
    for (const int j : listRows)
        paths.push_back(view.table.Path(view.list.TableRow(j)));
    return paths;
}

std::vector<ConfirmedFile> ConfirmedFiles(const ResultView& view, const std::vector<int>& listRows)
{
    std::vector<ConfirmedFile> files;
    files.reserve(listRows.size());
    for (const int j : listRows) {
        const int row = view.list.TableRow(j);
        const FileTable& table = view.table;
        files.push_back({table.Path(row), FileFacts{table.Size(row), table.CreationTime(row), table.Identity(row)}});
    }
    return files;
}

namespace {

// The log as the record names it: its absolute path and its identity.
LogIdentity IdentityOf(const OpenDeletionLog& log)
{
    LogIdentity identity;
    identity.path = log.Path();
    if (!identity.path.empty() && identity.path[0] != '/') {
        char buffer[4096];
        if (getcwd(buffer, sizeof buffer))
            identity.path = JoinPath(buffer, identity.path);
    }
    log.Identify(identity.device, identity.inode);
    return identity;
}

NotMoved WhyNotMoved(const std::string& path, const TrashOutcome& result)
{
    NotMoved why{path, NotMovedReason::Refused, result.error, {}, result.refusal};
    switch (result.status) {
    case TrashStatus::Moved:
    case TrashStatus::NoTrash:
    case TrashStatus::Failed:
        break;
    case TrashStatus::Changed:
        why.reason = NotMovedReason::Changed;
        break;
    case TrashStatus::Gone:
        why.reason = NotMovedReason::Gone;
        break;
    case TrashStatus::ChangedInTrash:
        why.reason = NotMovedReason::ChangedInTrash;
        why.trashEntry = result.entry.FilePath();
        break;
    }
    return why;
}

// Moves each confirmed file, noting each move in the record's journal.
void MoveFiles(const std::vector<ConfirmedFile>& files, Progress& progress, const TrashHooks& hooks,
               const std::stop_token& stop, DeletionRecordWriter& record, DeleteOutcome& outcome)
{
    progress.SetRange(0, static_cast<int>(files.size()));
    std::unordered_set<std::string_view> moved;
    TrashWriter trash;
    trash.hooks = hooks;
    std::vector<std::string> paths;
    paths.reserve(files.size());
    for (const ConfirmedFile& file : files)
        paths.push_back(file.path);
    trash.Expect(std::move(paths));
    for (std::size_t i = 0; i < files.size() && !stop.stop_requested(); ++i) {
        const std::string& path = files[i].path;
        if (moved.count(path) == 0) {  // the same file selected twice moves once
            const std::int64_t when = CurrentTime();
            const TrashOutcome result = trash.Move(path, files[i].facts);
            if (result.status == TrashStatus::Moved) {
                moved.insert(path);
                TrashedFile file = RecordedFacts(result.entry.FilePath()).value_or(TrashedFile{});
                file.path = path;
                file.entry = result.entry;
                file.facts = result.moved;
                file.deletionTime = when;
                record.Moved(i, file);
                outcome.movedFiles.push_back(std::move(file));
            } else {
                outcome.notMoved.push_back(WhyNotMoved(path, result));
            }
        }
        progress.DeltaPos(1);
    }
    progress.SetPos(0);
    outcome.moved = static_cast<int>(outcome.movedFiles.size());
}

}  // namespace

DeleteOutcome DeleteConfirmed(const std::vector<ConfirmedFile>& files, Progress& progress, const std::string& logPath,
                              std::int64_t startTime, const TrashHooks& hooks, std::chrono::milliseconds patience,
                              const std::stop_token& stop)
{
    DeleteOutcome outcome;
    outcome.confirmed = true;
    outcome.startTime = startTime;
    for (const ConfirmedFile& file : files)
        outcome.confirmedPaths.push_back(file.path);
    const std::vector<std::string>& fullList = outcome.confirmedPaths;
    const auto wait = [&progress] { progress.WhileWaiting(); };
    // Every deletion leaves its block: where the asked-for log cannot take
    // it, the one in the user's state folder does.
    const std::string fallback = FallbackDeletionLogPath();
    const auto openFallback = [&](OpenDeletionLog& log, const std::vector<std::string>& paths) {
        if (fallback.empty() || !MakeFallbackLogFolder(fallback))
            return LogOutcome::NotOpened;
        return log.Open(fallback, startTime, paths, wait, patience);
    };
    OpenDeletionLog log;
    outcome.log = log.Open(logPath, startTime, fullList, wait, patience);
    if (outcome.log != LogOutcome::Written) {
        outcome.fallbackLog = openFallback(log, fullList);
        if (outcome.fallbackLog != LogOutcome::Written) {
            outcome.stop = DeleteStop::NoLog;
            return outcome;
        }
    }
    LogIdentity logIdentity = IdentityOf(log);
    DeletionRecordWriter record;
    if (!record.Begin(RecordsFolder(), logIdentity, startTime, files)) {
        outcome.stop = DeleteStop::NoRecord;
        outcome.recordError = record.Error();
        return outcome;
    }

    MoveFiles(files, progress, hooks, stop, record, outcome);
    if (outcome.movedFiles.empty()) {
        record.Abandon();  // nothing moved: no block, no record
        return outcome;
    }
    std::vector<std::string> movedPaths;
    for (const TrashedFile& file : outcome.movedFiles)
        movedPaths.push_back(file.path);
    LogOutcome written = log.Append(startTime, movedPaths);
    if (written != LogOutcome::Written && outcome.log == LogOutcome::Written) {
        outcome.log = written;
        log.Close();
        outcome.fallbackLog = openFallback(log, movedPaths);
        written = outcome.fallbackLog == LogOutcome::Written ? log.Append(startTime, movedPaths) : outcome.fallbackLog;
        outcome.fallbackLog = written;
        if (written == LogOutcome::Written)
            logIdentity = IdentityOf(log);
    }
    if (written == LogOutcome::Written)
        outcome.logPath = log.Path();
    outcome.recordId = record.Id();
    if (!record.Finish(logIdentity, written == LogOutcome::Written, outcome.movedFiles))
        outcome.recordError = record.Error();
    return outcome;
}

void RemoveMovedRows(ResultView& view, const DeleteOutcome& outcome)
{
    FileTable& table = view.table;
    std::unordered_set<std::string_view> moved;
    for (const TrashedFile& file : outcome.movedFiles)
        moved.insert(file.path);
    // The table rows of each moved path, lowest first: each confirmed copy
    // of a moved path takes away the lowest row that still carries it.
    std::unordered_map<std::string_view, std::deque<int>> rowsOfPath;
    for (const std::string_view path : moved)
        rowsOfPath.try_emplace(path);
    for (int k = 0; k < table.RowCount(); ++k) {
        const auto it = rowsOfPath.find(table.Path(k));
        if (it != rowsOfPath.end())
            it->second.push_back(k);
    }
    std::vector<bool> remove(static_cast<std::size_t>(table.RowCount()), false);
    for (const std::string& path : outcome.confirmedPaths) {
        const auto it = rowsOfPath.find(path);
        if (it == rowsOfPath.end() || it->second.empty())
            continue;
        remove[static_cast<std::size_t>(it->second.front())] = true;
        it->second.pop_front();
    }
    table.RemoveFileRows(remove);
    view.ShowSelectedDuplicates();
}

}  // namespace snapsift
