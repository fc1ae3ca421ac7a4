#include "delete/delete_selected.h"

#include "delete/deletion_log.h"
#include "platform/file_system.h"
#include "platform/progress.h"
#include "platform/shell.h"
#include "review/result_view.h"

#include <cerrno>
#include <deque>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace snapsift {

namespace {

enum class RowCheck { Same, Changed, Gone };

// Whether the file at `path` is still the one row `row` describes: the same
// file (where the row knows which), with the same size and creation second.
RowCheck CheckRow(const FileTable& table, int row, const std::string& path)
{
    errno = 0;
    const auto facts = StatRegularFile(path);
    if (!facts)
        return errno == ENOENT || errno == ENOTDIR ? RowCheck::Gone : RowCheck::Changed;
    const FileIdentity& known = table.Identity(row);
    const bool same = (!known.Known() || facts->identity == known) && facts->size == table.Size(row) &&
                      facts->creationTime == table.CreationTime(row);
    return same ? RowCheck::Same : RowCheck::Changed;
}

} // namespace

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
                              const std::string& logPath, std::int64_t startTime)
{
    FileTable& table = view.table;
    const std::vector<std::string> fullList = ListedPaths(view, listRows);
    DeleteOutcome outcome;
    outcome.log = AppendDeletionLog(startTime, fullList, logPath, [&progress] { progress.WhileWaiting(); });
    if (outcome.log == LogOutcome::WriteFailed)
        return outcome;

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
    for (std::size_t s = 0; s < listRows.size(); ++s) {
        const int row = view.list.TableRow(listRows[s]);
        const std::string& path = fullList[s];
        bool gone = moved.count(path) != 0;  // the same file selected twice
        NotMoved why{path, NotMovedReason::Refused, {}};
        if (!gone) {
            const RowCheck check = CheckRow(table, row, path);
            if (check == RowCheck::Same) {
                const ShellResult result = MoveToTrash(path);
                gone = result.ok;
                why.error = result.error;
            } else {
                why.reason = check == RowCheck::Gone ? NotMovedReason::Gone : NotMovedReason::Changed;
            }
            if (gone)
                moved.insert(path);
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
