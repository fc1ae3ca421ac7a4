// SPDX-License-Identifier: MIT
// Undoing the last deletion from the window: confirm, put the files back,
// show what is below the search target again and say what stayed in the trash.
#include "ui/window/snapsift_dlg.h"

#include "delete/delete_selected.h"
#include "delete/restore_last.h"
#include "platform/file_system.h"
#include "ui/window/history_dlg.h"
#include "ui/window/messenger.h"
#include "ui/window/qt_progress.h"
#include "ui/window_texts.h"

#include <climits>
#include <cstdlib>

namespace snapsift {

void CSnapsiftDlg::OnRestoreLast()
{
    if (!lastDeletion_)
        return;
    const LastDeletion& last = *lastDeletion_;
    // Only while this window's deletion is still the last record of its log.
    LastLoggedDeletion logged;
    if (ReadLastLoggedDeletion(last.logPath, logged) != LogReadOutcome::Read) {
        ShowConfirm(kRestoreUnreadableText, false);
        return;
    }
    // The record of the log's last block, where one is kept; else the block itself.
    const LoggedDeletion& deletion = logged.block;
    const bool ours = logged.record ? logged.record->id == last.recordId
                                    : deletion.paths == last.loggedPaths && last.startTime >= deletion.startTime &&
                                          last.startTime <= deletion.startTimeLatest;
    if (!ours) {
        ShowConfirm(RestoreNotThisDeletionText(last.logPath), false);
        return;
    }
    const std::vector<TrashedFile>& files = logged.record ? logged.record->files : last.files;
    if (ShowConfirm(RestoreQuestionText(files.size()), true) != MessageAnswer::Ok)
        return;

    const std::vector<RestoreResult> results = RestoreTrashed(files, *progressDriver_);
    lastDeletion_.reset();  // done: the entry is disabled until the next deletion
    for (const RestoreResult& r : results) {
        if (r.status == RestoreStatus::Restored && LiesBelowSearchTarget(r.path)) {
            SearchAgainKeepingChoice();
            break;
        }
    }
    ShowConfirm(RestoreSummaryText(results), false);
}

void CSnapsiftDlg::OnHistory()
{
    HistoryDlg history(
        *messenger_, [this](const std::function<void(Progress&)>& work) { RunBesideWindow(m_progress, work); }, this);
    history.exec();
    for (const RestoreResult& r : history.Results()) {
        if (r.status == RestoreStatus::Restored && LiesBelowSearchTarget(r.path)) {
            SearchAgainKeepingChoice();
            break;
        }
    }
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
    const ComboEntry choice = chosen >= 0 ? m_view.combo.GetLBText(chosen) : ComboEntry();
    const std::string target = searchTarget_;
    const SearchOptions options = searchOptions_;
    m_view.ClearResults();
    MirrorResults();
    RunSearch(target, options);
    if (choice.kind != ComboEntryKind::Name)
        return;
    const auto& entries = m_view.combo.Entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i] == choice) {
            m_view.combo.SetCurSel(static_cast<int>(i));
            m_view.ShowSelectedDuplicates();
            MirrorResults();
            break;
        }
    }
}

} // namespace snapsift
