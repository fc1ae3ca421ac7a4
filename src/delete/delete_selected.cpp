// SPDX-License-Identifier: MIT
#include "delete/delete_selected.h"

#include "delete/deletion_log.h"
#include "platform/file_system.h"
#include "platform/progress.h"
#include "review/result_view.h"

#include <cerrno>
#include <deque>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace snapsift {


std::vector<int> SelectedListRows(const ResultList& list)
{
    std::vector<int> rows;
    for (int j = 0; j < list.GetItemCount(); ++j) {
        if (list.IsSelected(j))
            rows.push_back(j);
    }
    return rows;
}

std::vector<std::string> ListedPaths(const ResultView& view, const std::vector<int>& listRows)
{
    std::vector<std::string> paths;
    paths.reserve(listRows.size());
    for (const int j : listRows)
        paths.push_back(view.table.Path(view.list.TableRow(j)));
    return paths;
}

DeleteOutcome DeleteConfirmed(ResultView& view, const std::vector<int>& listRows, Progress& progress,
                              const std::string& logPath, std::int64_t startTime,
                              const TrashHooks& hooks)
{
    FileTable& table = view.table;
    DeleteOutcome outcome;
    outcome.confirmed = true;
    outcome.startTime = startTime;
    outcome.confirmedPaths = ListedPaths(view, listRows);
    const std::vector<std::string>& fullList = outcome.confirmedPaths;
    const auto wait = [&progress] { progress.WhileWaiting(); };
    outcome.log = AppendDeletionLog(startTime, fullList, logPath, wait);
    if (outcome.log == LogOutcome::Written) {
        outcome.logPath = logPath;
    } else {
        // Every deletion leaves its record: where the asked-for log cannot
        // take the block, the one in the user's state folder does.
        const std::string fallback = FallbackDeletionLogPath();
        outcome.fallbackLog = LogOutcome::NotOpened;
        if (!fallback.empty() && MakeFallbackLogFolder(fallback))
            outcome.fallbackLog = AppendDeletionLog(startTime, fullList, fallback, wait);
        if (outcome.fallbackLog != LogOutcome::Written)
            return outcome;
        outcome.logPath = fallback;
    }

    // The table rows of each selected path, lowest first: a moved file takes
    // away the lowest row that still carries its path.
    std::unordered_map<std::string_view, std::deque<int>> rowsOfPath;
    for (const std::string& path : fullList)
        rowsOfPath.try_emplace(path);
    for (int k = 0; k < table.RowCount(); ++k) {
        const auto it = rowsOfPath.find(table.Path(k));
        if (it != rowsOfPath.end())
            it->second.push_back(k);
    }

    progress.SetRange(0, static_cast<int>(listRows.size()));
    std::vector<bool> remove(static_cast<std::size_t>(table.RowCount()), false);
    std::unordered_set<std::string_view> moved;
    TrashWriter trash;
    trash.hooks = hooks;
    trash.Expect(fullList);
    for (std::size_t s = 0; s < listRows.size(); ++s) {
        const int row = view.list.TableRow(listRows[s]);
        const std::string& path = fullList[s];
        bool gone = moved.count(path) != 0;  // the same file selected twice
        NotMoved why{path, NotMovedReason::Refused, {}, {}, {}};
        if (!gone) {
            const FileFacts confirmed{table.Size(row), table.CreationTime(row), table.Identity(row)};
            const TrashOutcome result = trash.Move(path, confirmed);
            gone = result.status == TrashStatus::Moved;
            why.error = result.error;
            why.refusal = result.refusal;
            switch (result.status) {
            case TrashStatus::Moved:
                moved.insert(path);
                outcome.movedFiles.push_back({path, result.entry, result.moved});
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
            case TrashStatus::NoTrash:
            case TrashStatus::Failed:
                why.reason = NotMovedReason::Refused;
                break;
            }
        }
        if (gone) {
            std::deque<int>& rows = rowsOfPath[path];
            if (!rows.empty()) {
                remove[static_cast<std::size_t>(rows.front())] = true;
                rows.pop_front();
            }
        } else {
            outcome.notMoved.push_back(std::move(why));
        }
        progress.DeltaPos(1);
    }
    table.RemoveFileRows(remove);
    view.ShowSelectedDuplicates();
    progress.SetPos(0);
    outcome.moved = static_cast<int>(moved.size());
    return outcome;
}

} // namespace snapsift
