// Undoing the last deletion from the window: confirm, put the files back,
// show what is below the search target again and say what stayed in the trash.
#include "ui/snapsift_dlg.h"

#include "delete/delete_selected.h"
#include "delete/restore_last.h"
#include "platform/file_system.h"
#include "platform/messenger.h"
#include "ui/qt_progress.h"

#include <climits>
#include <cstdlib>

namespace snapsift {

const char* const kRestoreLastMenuText = "直前の削除を元に戻す(&U)";

namespace {

constexpr std::size_t kPathsShown = 15;

std::string ReasonText(const RestoreResult& r)
{
    switch (r.status) {
    case RestoreStatus::Restored:
        return {};
    case RestoreStatus::NotFound:
        return "ごみ箱にありません";
    case RestoreStatus::Occupied:
        return "元の場所に別のファイルがあります";
    case RestoreStatus::NotRegularFile:
        return "ごみ箱の項目が通常のファイルではありません";
    case RestoreStatus::BadTrashInfo:
        return "ごみ箱の情報ファイル(.trashinfo)が壊れています";
    case RestoreStatus::Failed:
        return "移動できません: " + r.error;
    }
    return {};
}

std::string SummaryText(const std::vector<RestoreResult>& results)
{
    std::size_t restored = 0;
    std::vector<const RestoreResult*> left;
    for (const RestoreResult& r : results) {
        if (r.status == RestoreStatus::Restored)
            ++restored;
        else
            left.push_back(&r);
    }
    std::string text = std::to_string(restored) + " 個のファイルを元の場所に戻しました。";
    if (left.empty())
        return text;
    text += "\n次のファイルは元に戻せませんでした。\n";
    for (std::size_t i = 0; i < left.size() && i < kPathsShown; ++i)
        text += left[i]->path + " (" + ReasonText(*left[i]) + ")\n";
    if (left.size() > kPathsShown)
        text += "他 " + std::to_string(left.size() - kPathsShown) + " 件\n";
    return text;
}

} // namespace

void CSnapsiftDlg::OnRestoreLast()
{
    LoggedDeletion deletion;
    if (ReadLastDeletion(services_.deletionLogPath, deletion) != LogReadOutcome::Read) {
        messenger_->Show({"削除ログ(DeleteLog.log)から直前の削除を読めませんでした。", kConfirmCaption,
                          MessageButtons::Ok, MessageIcon::None});
        return;
    }
    const std::string question = "直前の削除でごみ箱に移動した " + std::to_string(deletion.paths.size()) +
                                 " 個のファイルを元の場所に戻します。よろしいですか？";
    if (messenger_->Show({question, kConfirmCaption, MessageButtons::OkCancel, MessageIcon::None}) !=
        MessageAnswer::Ok)
        return;

    const std::vector<RestoreResult> results = RestoreDeletion(deletion, *progressDriver_);
    for (const RestoreResult& r : results) {
        if (r.status == RestoreStatus::Restored && LiesBelowSearchTarget(r.path)) {
            SearchAgainKeepingChoice();
            break;
        }
    }
    messenger_->Show({SummaryText(results), kConfirmCaption, MessageButtons::Ok, MessageIcon::None});
}

bool CSnapsiftDlg::LiesBelowSearchTarget(const std::string& path) const
{
    if (searchTarget_.empty())
        return false;
    auto below = [&path](std::string folder) {
        if (folder.empty() || folder.back() != '/')
            folder.push_back('/');
        return path.compare(0, folder.size(), folder) == 0;
    };
    if (below(searchTarget_))
        return true;
    char* resolved = realpath(searchTarget_.c_str(), nullptr);
    const bool result = resolved && below(resolved);
    std::free(resolved);
    return result;
}

// The search runs again, so the restored files take their rows' places just as
// the first search gave them; a duplicate name that was chosen stays chosen.
void CSnapsiftDlg::SearchAgainKeepingChoice()
{
    const int chosen = m_view.combo.GetCurSel();
    const std::string choice = chosen > 0 ? m_view.combo.GetLBText(chosen) : std::string();
    const std::string target = searchTarget_;
    const SearchOptions options = searchOptions_;
    m_view.ClearResults();
    MirrorResults();
    RunSearch(target, options);
    if (choice.empty())
        return;
    const auto& entries = m_view.combo.Entries();
    for (std::size_t i = 1; i < entries.size(); ++i) {
        if (entries[i] == choice) {
            m_view.combo.SetCurSel(static_cast<int>(i));
            m_view.ShowSelectedDuplicates();
            MirrorResults();
            break;
        }
    }
}

} // namespace snapsift
