#include "delete/delete_selected.h"

#include "delete/deletion_log.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/messenger.h"
#include "platform/progress.h"
#include "platform/shell.h"
#include "review/result_view.h"

#include <cerrno>
#include <deque>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace snapsift {

const char* const kConfirmCaption = "確認";
const char* const kNothingSelectedText = "削除アイテムが選択されていません";
const char* const kOverflowNoteText = "等の選択されたファイル(他は DeleteLog.log 参照)\n";
const char* const kConfirmQuestionText = "をごみ箱に移動してよろしいですか？";
const char* const kLogWriteFailedText =
    "削除ログ(DeleteLog.log)を書き込めませんでした。\nファイルは移動していません。";
const char* const kNotMovedText = "次のファイルはごみ箱に移動できませんでした。\n";
const char* const kChangedReasonText = "検索の後で変更されています";
const char* const kGoneReasonText = "ファイルが見つかりません";
const char* const kRefusedReasonText = "ごみ箱が受け付けませんでした: ";

namespace {

constexpr int kPathsShown = 15;

enum class RowCheck { Same, Changed, Gone };

// Whether the file at the row's path is still the one the row describes: the same
// file (where the row knows which), with the same size and date texts.
RowCheck CheckRow(const FileTable& table, int row)
{
    errno = 0;
    const auto facts = StatRegularFile(table.m_paths[row]);
    if (!facts)
        return errno == ENOENT || errno == ENOTDIR ? RowCheck::Gone : RowCheck::Changed;
    const std::size_t k = static_cast<std::size_t>(row);
    const FileIdentity known = k < table.m_identities.size() ? table.m_identities[k] : FileIdentity{};
    const bool same = (!known.Known() || facts->identity == known) && SizeText(facts->size) == table.m_sizes[row] &&
                      DateText(facts->creationTime) == table.m_dates[row];
    return same ? RowCheck::Same : RowCheck::Changed;
}

struct NotMoved {
    std::string path;
    std::string reason;
};

std::string NotMovedMessage(const std::vector<NotMoved>& notMoved)
{
    std::string text = kNotMovedText;
    for (std::size_t i = 0; i < notMoved.size() && i < kPathsShown; ++i)
        text += notMoved[i].path + " \uff08" + notMoved[i].reason + "\uff09\n";
    if (notMoved.size() > kPathsShown)
        text += "他 " + std::to_string(notMoved.size() - kPathsShown) + " 件\n";
    return text;
}

} // namespace

void OnDeleteSelected(ResultView& view, Messenger& messenger, Progress& progress, const std::string& logPath,
                      std::int64_t (*now)())
{
    FileTable& table = view.table;
    const int rowCount = view.list.GetItemCount();
    const std::int64_t startTime = now ? now() : CurrentTime();

    std::vector<int> selectedRows;
    std::vector<std::string> fullList;
    std::string confirmation;
    for (int j = 0; j < rowCount; ++j) {
        if (!view.list.IsSelected(j))
            continue;
        selectedRows.push_back(j);
        fullList.push_back(table.m_paths[view.list.TableRow(j)]);
        if (fullList.size() <= kPathsShown)
            confirmation += fullList.back() + "\n";
        else if (fullList.size() == kPathsShown + 1)
            confirmation += kOverflowNoteText;
    }
    if (selectedRows.empty()) {
        messenger.Show({kNothingSelectedText, kConfirmCaption, MessageButtons::Ok, MessageIcon::None});
        return;
    }
    confirmation += kConfirmQuestionText;
    if (messenger.Show({confirmation, kConfirmCaption, MessageButtons::OkCancel, MessageIcon::None}) !=
        MessageAnswer::Ok)
        return;

    if (AppendDeletionLog(startTime, fullList, logPath, [&progress] { progress.WhileWaiting(); }) ==
        LogOutcome::WriteFailed) {
        messenger.Show({kLogWriteFailedText, kConfirmCaption, MessageButtons::Ok, MessageIcon::None});
        return;
    }

    // The table rows of each selected path, lowest first: a moved file takes
    // away the lowest row that still carries its path.
    std::unordered_map<std::string_view, std::deque<int>> rowsOfPath;
    for (const std::string& path : fullList)
        rowsOfPath.try_emplace(path);
    for (int k = 0; k < table.m_fileCount; ++k) {
        const auto it = rowsOfPath.find(table.m_paths[k]);
        if (it != rowsOfPath.end())
            it->second.push_back(k);
    }

    progress.SetRange(0, static_cast<int>(selectedRows.size()));
    std::vector<bool> remove(static_cast<std::size_t>(table.m_fileCount), false);
    std::unordered_set<std::string_view> moved;
    std::vector<NotMoved> notMoved;
    for (std::size_t s = 0; s < selectedRows.size(); ++s) {
        const int row = view.list.TableRow(selectedRows[s]);
        const std::string& path = fullList[s];
        bool gone = moved.count(path) != 0;  // the same file selected twice
        std::string reason;
        if (!gone) {
            const RowCheck check = CheckRow(table, row);
            if (check == RowCheck::Same) {
                const ShellResult result = MoveToTrash(path);
                gone = result.ok;
                reason = kRefusedReasonText + result.error;
            } else {
                reason = check == RowCheck::Gone ? kGoneReasonText : kChangedReasonText;
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
            notMoved.push_back({path, std::move(reason)});
        }
        progress.DeltaPos(1);
    }
    table.RemoveFileRows(remove);
    view.ShowSelectedDuplicates();
    progress.SetPos(0);
    if (!notMoved.empty())
        messenger.Show({NotMovedMessage(notMoved), kConfirmCaption, MessageButtons::Ok, MessageIcon::None});
}

} // namespace snapsift
