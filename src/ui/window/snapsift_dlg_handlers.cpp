// SPDX-License-Identifier: MIT
// The window's command handlers: each hands its work to the core and then
// mirrors what changed into the controls.
#include "delete/delete_selected.h"
#include "platform/local_time.h"
#include "platform/memory.h"
#include "platform/user_desktop.h"
#include "scan/folder_scan.h"
#include "ui/delete_conversation.h"
#include "ui/display_text.h"
#include "ui/fact_texts.h"
#include "ui/preview/result_previews.h"
#include "ui/window/busy_window.h"
#include "ui/window/duplicate_combo_box.h"
#include "ui/window/help_page.h"
#include "ui/window/messenger.h"
#include "ui/window/qt_progress.h"
#include "ui/window/result_model.h"
#include "ui/window/snapsift_dlg.h"
#include "ui/window_texts.h"

#include <QItemSelection>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace snapsift {

void CSnapsiftDlg::AddTreeItems(const std::vector<int>& nodes)
{
    treeItems_.resize(m_targets.nodes.size(), nullptr);
    for (int node : nodes) {
        const TargetNode& target = m_targets.nodes[node];
        QTreeWidgetItem* parent = target.parent >= 0 ? treeItems_[target.parent] : nullptr;
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_folderTree);
        item->setText(0, ShownText(TargetNodeText(target)));
        item->setData(0, Qt::UserRole, node);
        // A folder below a root is listed only when opened: until then it
        // shows an expand arrow, as it may well have subfolders.
        if (target.parent >= 0 && target.row >= 0 && target.children.empty())
            item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        treeItems_[node] = item;
    }
}

void CSnapsiftDlg::MirrorResults()
{
    resultModel_->Rebuilt();
    FitValueColumns();
    m_duplicateCombo->Mirror();
    m_autoSelectButton->setEnabled(m_view.buttons.autoSelect);
    m_deleteButton->setEnabled(m_view.buttons.deleteSelected);
    m_clearButton->setEnabled(m_view.buttons.clear);
}

std::vector<int> CSnapsiftDlg::SelectedListRows() const
{
    std::vector<int> rows;
    const int listed = m_view.list.GetItemCount();
    for (const QItemSelectionRange& range : m_resultList->selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom() && row < listed; ++row)
            rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void CSnapsiftDlg::SelectListRows(const std::vector<int>& rows)
{
    // Runs of selected rows become one range each.
    QItemSelection selection;
    const int lastColumn = resultModel_->columnCount() - 1;
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t end = i;
        while (end + 1 < rows.size() && rows[end + 1] == rows[end] + 1)
            ++end;
        selection.append(
            QItemSelectionRange(resultModel_->index(rows[i], 0), resultModel_->index(rows[end], lastColumn)));
        i = end + 1;
    }
    m_resultList->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void CSnapsiftDlg::OnSearch()
{
    BusyWindow busy(this);
    QTreeWidgetItem* item = m_folderTree->selectedItems().value(0);
    const int node = item ? item->data(0, Qt::UserRole).toInt() : -1;
    const TargetChoice target = m_targets.OnSearch(node);
    if (target.refusal != TargetRefusal::None) {
        ShowInformation(TargetRefusalText(target.refusal));
        return;
    }
    m_view.ClearResults();
    MirrorResults();
    // An extension that is too long has been refused with its own message.
    if (!UpdateData(true))
        return;
    RunSearch(target.path, m_options, &busy);
}

namespace {

// A search beside the window, into a view of its own. A search left to end
// alone owns all it touches.
struct BesideSearch {
    ResultView found;
    std::string target;
    SearchOptions options;
    ScanOutcome outcome;
    std::atomic<bool> walking{false};  // past the target: a stop is answered at once
};

}  // namespace

void CSnapsiftDlg::RunSearch(const std::string& target, const SearchOptions& options, BusyWindow* busy)
{
    searchTarget_.clear();
    searchedFolder_.clear();
    if (const SearchRefusal refusal = CheckSearchOptions(options); refusal != SearchRefusal::None) {
        ShowInformation(SearchRefusalText(refusal));
        return;
    }
    // The search, including putting the rows in name order, runs beside the
    // window; this thread meanwhile only paints, advances the bar and hears
    // Esc, the quit button and the close box. The window shows nothing of the
    // view until the search has ended and it has taken the view over.
    const auto search = std::make_shared<BesideSearch>();
    search->target = target;
    search->options = options;
    BesideWindow beside([search](Progress& progress, const std::stop_token& stop) {
        WalkProgress shown(progress);
        search->outcome =
            ScanFolder(search->target, search->options, search->found.table, shown, stop, &search->walking);
        search->found.FillResultView();
    });
    const std::optional<bool> ended = WaitForSearch(beside, search->walking, busy);
    if (!ended)
        return;  // nothing more is shown: the program ends
    if (*ended)
        m_view = std::move(search->found);
    // else: stopped on a disk that did not let go; the list stays empty
    ReturnFreeMemory();  // what the walk's threads held, before the window needs more
    MirrorResults();
    searchTarget_ = target;
    if (*ended)
        searchedFolder_ = std::move(search->outcome.canonicalTarget);
    searchOptions_ = options;
    if (!*ended || search->outcome.stopped)
        ShowInformation(kSearchStoppedText);
}

std::optional<bool> CSnapsiftDlg::WaitForSearch(BesideWindow& beside, const std::atomic<bool>& walking,
                                                BusyWindow* busy)
{
    bool quit = false;
    if (busy) {
        busy->TakeRequests(m_quitButton, [&](BusyWindow::Request request) {
            beside.Stop();
            if (request == BusyWindow::Request::Quit) {
                quit = true;
                beside.Abandon();
                done(QDialog::Rejected);  // the program ends as soon as this command returns
            }
        });
    }
    // Busy, until the walk has listed its first folder: a target that does
    // not answer shows as work going on, not as an empty bar.
    m_progress->setRange(0, 0);
    const bool ended = beside.Wait(m_progress, walking);
    if (!ended) {
        m_progress->setRange(0, 100);
        m_progress->setValue(0);
    }
    if (busy) {
        // 終了 or the close box pressed as the search ended still ends the program.
        busy->TakeRequests(m_quitButton, [this](BusyWindow::Request request) {
            if (request == BusyWindow::Request::Quit)
                done(QDialog::Rejected);
        });
    }
    if (quit)
        return std::nullopt;
    return ended;
}

void CSnapsiftDlg::ShowInformation(const std::string& text)
{
    messenger_->Show({text, kInformationCaption, MessageButtons::Ok, MessageIcon::Information});
}

MessageAnswer CSnapsiftDlg::ShowConfirm(const std::string& text, bool withCancel)
{
    return messenger_->Show(
        {text, kConfirmCaption, withCancel ? MessageButtons::OkCancel : MessageButtons::Ok, MessageIcon::None});
}

void CSnapsiftDlg::OnAutoSelect()
{
    // Esc stops the content check; nothing is selected then. 終了 and the
    // close box stop it and end the program. A stopped check returns at
    // once, leaving a read that does not return to end alone.
    contentChecker_.ResetStop();
    BusyWindow busy(this);
    bool quit = false;
    // Protection is decided first, once per folder; a protected folder's
    // disk that does not answer is given up on by Esc or 終了.
    const std::optional<std::vector<std::uint8_t>> protectedRows = ProtectedRowsBeside(busy, quit);
    if (!protectedRows)
        return;
    busy.TakeRequests(m_quitButton, [&](BusyWindow::Request request) {
        contentChecker_.RequestStop();
        if (request == BusyWindow::Request::Quit && !quit) {
            quit = true;
            done(QDialog::Rejected);  // the program ends as soon as this command returns
        }
    });
    AutoSelectOutcome outcome;
    RunBesideWindow(
        m_progress,
        [&](Progress& progress) {
            outcome = snapsift::PickOlderCopies(m_view, progress, {&contentChecker_, &*protectedRows});
        },
        true, true);  // busy until the first copy is read: a read that hangs shows as work going on
    m_progress->setValue(m_progress->minimum());
    ReturnFreeMemory();  // what the grouping and the check's threads held, before the selection needs room
    if (quit || outcome.stopped)
        return;
    SelectListRows(outcome.picked);
    previews_->ContentChecked();
    if (const std::string text = LeftUnselectedText(outcome.differing, outcome.unreadable); !text.empty())
        ShowInformation(text);
}

void CSnapsiftDlg::OnDeleteSelected()
{
    BusyWindow busy(this);
    const std::int64_t startTime = CurrentTime();
    // With nothing moved the table is as it was, so the list shown again for
    // the current choice is the same rows or, at the prompt, none.
    const int listedBefore = m_view.list.GetItemCount();
    // The looks at the disks and the moves run beside the window; the
    // questions and the messages are the window's.
    DeleteSteps steps;
    steps.run = [this, &busy](DiskStep step, bool moves) { return RunStepUntilQuit(busy, std::move(step), moves); };
    // Cancelled, refused or nothing moved: the list, its selection, focus and
    // scroll position stay as the user left them.
    const DeleteOutcome outcome =
        DeleteWithConfirmation(m_view, SelectedListRows(), *messenger_, *progressDriver_, services_.deletionLogPath,
                               startTime, services_.deletionHooks, &protection_, services_.logPatience, steps);
    if (outcome.moved > 0) {
        LastDeletion last;
        last.logPath = outcome.logPath;
        last.startTime = outcome.startTime;
        last.recordId = outcome.recordId;
        last.files = outcome.movedFiles;
        for (const TrashedFile& file : outcome.movedFiles)
            last.loggedPaths.push_back(file.path);
        lastDeletion_ = std::move(last);
    }
    if (outcome.moved > 0 || m_view.list.GetItemCount() != listedBefore)
        MirrorResults();
}

void CSnapsiftDlg::OnClear()
{
    m_view.ClearResults();
    searchTarget_.clear();
    searchedFolder_.clear();
    MirrorResults();
}

void CSnapsiftDlg::OnTreeDblClk()
{
    QTreeWidgetItem* item = m_folderTree->selectedItems().value(0);
    if (item)
        ListTreeItem(item);
}

void CSnapsiftDlg::OnTreeItemExpanded(QTreeWidgetItem* item)
{
    if (item->childIndicatorPolicy() != QTreeWidgetItem::ShowIndicator)
        return;
    ListTreeItem(item);
    if (item->childCount() == 0)
        item->setExpanded(false);
}

void CSnapsiftDlg::OnResultDblClk()
{
    const QModelIndex focused = m_resultList->selectionModel()->currentIndex();
    if (!focused.isValid() || focused.row() >= m_view.list.GetItemCount())
        return;
    services_.openFile(m_view.table.Path(m_view.list.TableRow(focused.row())));
}

void CSnapsiftDlg::ReportOpen(const std::string& path, const ShellResult& result, bool busy)
{
    if (busy)
        ShowInformation(FileOpenBusyText(path));
    else if (!result.ok)
        ShowInformation(FileNotOpenedText(path, result.noProgram, result.error));
}

void CSnapsiftDlg::OnOtherExtToggle()
{
    UpdateData(true);
    m_otherExt->setEnabled(m_options.m_bOther);
}

void CSnapsiftDlg::OnDuplicateChosen(int index)
{
    m_view.combo.SetCurSel(index);
    m_view.ShowSelectedDuplicates();
    MirrorResults();
}

void CSnapsiftDlg::OnDuplicateDropDown()
{
    m_view.OnDuplicateDropDown();
    m_duplicateCombo->Mirror();
}

void CSnapsiftDlg::OnHelp()
{
    const std::string path = HelpPagePath();
    const ShellResult opened = services_.openHelp(path);
    if (opened.ok)
        return;
    struct stat st { };
    const bool present = stat(path.c_str(), &st) == 0;
    ShowInformation(HelpNotOpenedText(path, present));
}

}  // namespace snapsift
