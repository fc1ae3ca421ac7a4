// SPDX-License-Identifier: MIT
// The target tree's disks, none of which the window waits for: the drives
// at start-up and a folder's listing are asked for beside the window, each
// within a limit, and a disk that gives no answer in time shows as not
// answering until it answers.
#include "platform/beside_call.h"
#include "platform/desktop.h"
#include "platform/drive_probe.h"
#include "platform/mounts.h"
#include "ui/display_text.h"
#include "ui/fact_texts.h"
#include "ui/window/busy_window.h"
#include "ui/window/snapsift_dlg.h"

#include <QCoreApplication>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>

#include <chrono>

namespace snapsift {
namespace {

// How long a disk may take to answer before it shows as not answering: at
// start-up, where the window waits to appear, and when a folder is opened.
constexpr std::chrono::milliseconds kStartAnswerLimit(1000);
constexpr std::chrono::milliseconds kAnswerLimit(2000);

// Hands `then` to the window's thread, where it runs unless the window has
// gone by then. Called from a thread that was given up on.
void OnWindowThread(const QPointer<CSnapsiftDlg>& window, std::function<void(CSnapsiftDlg&)> then)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return;
    QMetaObject::invokeMethod(
        app,
        [window, then = std::move(then)] {
            if (CSnapsiftDlg* alive = window.data())
                then(*alive);
        },
        Qt::QueuedConnection);
}

struct DesktopLook {
    std::string folder;
    std::optional<std::vector<std::string>> listing;
};

}  // namespace

void CSnapsiftDlg::BuildTargets()
{
    // The desktop's folder and listing, and every mount point, are asked
    // for at once; together they take at most the limit.
    const auto deadline = std::chrono::steady_clock::now() + kStartAnswerLimit;
    BesideCall<DesktopLook> desktop([] {
        DesktopLook look{DesktopFolder(), {}};
        look.listing = SearchTargets::ListDesktop(look.folder);
        return look;
    });
    const QPointer<CSnapsiftDlg> self(this);
    const std::vector<Drive> drives = ListDrivesWithin(
        ReadMountTable(), kStartAnswerLimit,
        [self](const std::string& point, MountPointLook found) {
            OnWindowThread(self, [point, found](CSnapsiftDlg& window) { window.OnDriveAnswered(point, found); });
        },
        "/sys", services_.lookAtMountPoint ? services_.lookAtMountPoint : &LookAtMountPoint);
    desktop.Wait(std::max(deadline - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero()));
    // A desktop that does not answer is left out, as one that cannot be listed.
    const std::optional<DesktopLook> look = desktop.TakeOrGiveUp();
    if (look)
        m_targets.BuildFolderTree(drives, look->folder, look->listing);
    else
        m_targets.BuildFolderTree(drives, std::string(), std::nullopt);
    treeItems_.assign(m_targets.nodes.size(), nullptr);
    AddTreeItems(m_targets.Roots());
    for (int root : m_targets.Roots()) {
        AddTreeItems(m_targets.nodes[root].children);
        for (int node : m_targets.nodes[root].children)
            ShowNodeText(node);
    }
}

void CSnapsiftDlg::OnDriveAnswered(const std::string& mountPoint, MountPointLook found)
{
    for (int node = 0; node < static_cast<int>(m_targets.nodes.size()); ++node) {
        TargetNode& target = m_targets.nodes[node];
        if (target.kind != TargetNodeKind::Drive || target.name != mountPoint || target.answering)
            continue;
        if (found == MountPointLook::File) {
            // A single mounted file after all: no drive.
            if (QTreeWidgetItem* item = TreeItemOfNode(node))
                item->setHidden(true);
            continue;
        }
        target.answering = true;
        ShowNodeText(node);
        ShowProtection({node});
    }
}

std::vector<int> CSnapsiftDlg::AnsweringNodes(const std::vector<int>& nodes) const
{
    std::vector<int> answering;
    for (int node : nodes) {
        if (m_targets.nodes[node].answering)
            answering.push_back(node);
    }
    return answering;
}

void CSnapsiftDlg::ShowNodeText(int node)
{
    QTreeWidgetItem* item = TreeItemOfNode(node);
    if (!item)
        return;
    const QString text = ShownText(TargetNodeText(m_targets.nodes[node]));
    item->setText(0, text);
    // The tree is narrow: a drive's whole text, and any node's mark, also on hovering.
    const TargetNode& target = m_targets.nodes[node];
    item->setToolTip(0, target.kind == TargetNodeKind::Drive || !target.answering ? text : QString());
}

void CSnapsiftDlg::ListTreeItem(QTreeWidgetItem* item)
{
    const int node = item->data(0, Qt::UserRole).toInt();
    const std::optional<FolderToList> folder = m_targets.FolderToExpand(node);
    if (!folder) {
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
        return;
    }
    if (listingLate_.count(node) != 0)
        return;  // its listing goes on and adds the subfolders when it ends
    BesideCall<std::vector<std::string>> listing([folder = *folder, list = services_.listSubfolders] {
        return list ? list(folder.path, folder.followLastLink) : ListSubfolderNames(folder.path, folder.followLastLink);
    });
    // Meanwhile the window paints; 終了 and the close box end the program,
    // Esc stops waiting, other input is thrown away.
    bool quit = false, stopped = false;
    {
        BusyWindow busy(this);
        busy.TakeRequests(m_quitButton, [&](BusyWindow::Request request) {
            if (request == BusyWindow::Request::Quit) {
                quit = true;
                done(QDialog::Rejected);  // the program ends as soon as this command returns
            }
            stopped = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + kAnswerLimit;
        while (!stopped && !listing.Wait(std::chrono::milliseconds(15)) && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    const QPointer<CSnapsiftDlg> self(this);
    const std::optional<std::vector<std::string>> names =
        listing.TakeOrGiveUp([self, node](const std::vector<std::string>& late) {
            OnWindowThread(self, [node, late](CSnapsiftDlg& window) { window.OnListingAnswered(node, late); });
        });
    if (quit)
        return;
    if (!names) {
        listingLate_.insert(node);
        m_targets.nodes[node].answering = false;
        ShowNodeText(node);
        return;
    }
    AddListedItems(node, *names);
}

void CSnapsiftDlg::OnListingAnswered(int node, const std::vector<std::string>& names)
{
    listingLate_.erase(node);
    AddListedItems(node, names);
}

void CSnapsiftDlg::AddListedItems(int node, const std::vector<std::string>& names)
{
    if (!m_targets.nodes[node].answering) {
        m_targets.nodes[node].answering = true;
        ShowNodeText(node);
    }
    const std::vector<int> added = m_targets.AddListedFolders(node, names);
    AddTreeItems(added);
    ShowProtection(added);
    // Listed: the arrow stays only when there are subfolders.
    if (QTreeWidgetItem* item = TreeItemOfNode(node))
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

}  // namespace snapsift
