// SPDX-License-Identifier: MIT
// Undoing the last deletion from the window: confirm, put the files back,
// show what is below the search target again and say what stayed in the trash.
#include "delete/delete_selected.h"
#include "delete/restore_last.h"
#include "platform/file_system.h"
#include "platform/progress.h"
#include "ui/window/busy_window.h"
#include "ui/window/history_dlg.h"
#include "ui/window/messenger.h"
#include "ui/window/qt_progress.h"
#include "ui/window/snapsift_dlg.h"
#include "ui/window_texts.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <stop_token>

namespace snapsift {

namespace {

// Whether `path` lies below the folder `target` searched, as given or resolved.
bool LiesBelow(const std::string& target, const std::string& path)
{
    if (target.empty())
        return false;
    auto below = [&path](std::string folder) {
        if (folder.empty() || folder.back() != '/')
            folder.push_back('/');
        return path.compare(0, folder.size(), folder) == 0;
    };
    if (below(target))
        return true;
    char* resolved = realpath(target.c_str(), nullptr);
    const bool result = resolved && below(resolved);
    std::free(resolved);
    return result;
}

// An undo's work beside the window; it owns all it touches.
struct Undo {
    std::string logPath;
    LogReadOutcome read = LogReadOutcome::NotReadable;
    LastLoggedDeletion logged;
    std::vector<TrashedFile> files;
    std::string searchTarget;
    std::vector<RestoreResult> results;
    bool restoredBelowTarget = false;
};

// Puts the files back one by one; asked to stop, it finishes the file in
// hand (the file back, then its .trashinfo gone) and begins no other.
void PutBack(Undo& undo, Progress& shown, const std::stop_token& stop)
{
    shown.SetRange(0, static_cast<int>(undo.files.size()));
    NullProgress quiet;
    for (const TrashedFile& file : undo.files) {
        if (stop.stop_requested())
            break;
        std::vector<RestoreResult> one = RestoreTrashed({file}, quiet);
        undo.results.push_back(std::move(one.at(0)));
        const RestoreResult& r = undo.results.back();
        if (!undo.restoredBelowTarget && r.status == RestoreStatus::Restored)
            undo.restoredBelowTarget = LiesBelow(undo.searchTarget, r.path);
        shown.DeltaPos(1);
    }
    shown.SetPos(0);
}

}  // namespace

void CSnapsiftDlg::OnRestoreLast()
{
    if (!lastDeletion_)
        return;
    BusyWindow busy(this);
    const LastDeletion& last = *lastDeletion_;
    // Only while this window's deletion is still the last record of its log.
    const auto undo = std::make_shared<Undo>();
    undo->logPath = last.logPath;
    undo->searchTarget = searchTarget_;
    const DiskStep read = [undo](Progress&, const std::stop_token&) {
        undo->read = ReadLastLoggedDeletion(undo->logPath, undo->logged);
    };
    if (!RunStepUntilQuit(busy, read, false))
        return;  // the program ends
    if (undo->read != LogReadOutcome::Read) {
        ShowConfirm(kRestoreUnreadableText, false);
        return;
    }
    // The record of the log's last block, where one is kept; else the block itself.
    const LastLoggedDeletion& logged = undo->logged;
    const LoggedDeletion& deletion = logged.block;
    const bool ours = logged.record ? logged.record->id == last.recordId
                                    : deletion.paths == last.loggedPaths && last.startTime >= deletion.startTime &&
                                          last.startTime <= deletion.startTimeLatest;
    if (!ours) {
        ShowConfirm(RestoreNotThisDeletionText(last.logPath), false);
        return;
    }
    undo->files = logged.record ? logged.record->files : last.files;
    if (ShowConfirm(RestoreQuestionText(undo->files.size()), true) != MessageAnswer::Ok)
        return;

    const DiskStep putBack = [undo](Progress& shown, const std::stop_token& stop) { PutBack(*undo, shown, stop); };
    if (!RunStepUntilQuit(busy, putBack, true))
        return;             // the program ends; the message is left out
    lastDeletion_.reset();  // done: the entry is disabled until the next deletion
    if (undo->restoredBelowTarget)
        SearchAgainKeepingChoice();
    ShowConfirm(RestoreSummaryText(undo->results), false);
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
    // The resolving realpath may wait on the disk: beside the window.
    bool result = false;
    RunBesideWindow(m_progress, [&](Progress&) { result = LiesBelow(searchTarget_, path); });
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

}  // namespace snapsift
