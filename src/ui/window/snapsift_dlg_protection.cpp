// SPDX-License-Identifier: MIT
// Protected folders in the window: the tree's menu entry, the lock on the
// tree's nodes, and the list of folders kept between runs.
#include "ui/window/snapsift_dlg.h"

#include "ui/window_texts.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSettings>
#include <QTreeWidget>

namespace snapsift {
namespace {

const QString kProtectionGroup = QStringLiteral("protection");
const QString kFoldersArray = QStringLiteral("folders");
const QString kPathKey = QStringLiteral("path");

// A small padlock, drawn rather than taken from an icon theme, so that it is
// there on every desktop.
QIcon LockIcon()
{
    static const QIcon icon = [] {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(90, 90, 90), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(4.5, 1.5, 7, 9), 0, 180 * 16);
        painter.drawLine(QPointF(4.5, 6), QPointF(4.5, 8));
        painter.drawLine(QPointF(11.5, 6), QPointF(11.5, 8));
        painter.setPen(QPen(QColor(120, 80, 0), 1));
        painter.setBrush(QColor(230, 170, 30));
        painter.drawRoundedRect(QRectF(2.5, 7.5, 11, 7.5), 1.5, 1.5);
        painter.setBrush(QColor(80, 50, 0));
        painter.drawEllipse(QRectF(7, 9.5, 2, 2));
        return QIcon(pixmap);
    }();
    return icon;
}

} // namespace

std::string CSnapsiftDlg::NodeFolder(int node) const
{
    if (node < 0 || node >= static_cast<int>(m_targets.nodes.size()))
        return {};
    const int row = m_targets.nodes[node].row;
    return row >= 0 ? m_targets.folders.m_folderPaths[row] : std::string();
}

void CSnapsiftDlg::LoadProtection()
{
    QSettings settings(QStringLiteral("snapsift"), QStringLiteral("snapsift"));
    settings.beginGroup(kProtectionGroup);
    const int count = settings.beginReadArray(kFoldersArray);
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        const QByteArray path = settings.value(kPathKey).toByteArray();
        if (!path.isEmpty())
            protection_.Add(path.toStdString());
    }
    settings.endArray();
    settings.endGroup();
}

void CSnapsiftDlg::SaveProtection() const
{
    QSettings settings(QStringLiteral("snapsift"), QStringLiteral("snapsift"));
    settings.beginGroup(kProtectionGroup);
    settings.remove(QString());
    settings.beginWriteArray(kFoldersArray);
    int i = 0;
    for (const ProtectedFolders::Folder& folder : protection_.Folders()) {
        settings.setArrayIndex(i++);
        settings.setValue(kPathKey, QByteArray::fromStdString(folder.path));
    }
    settings.endArray();
    settings.endGroup();
}

void CSnapsiftDlg::ShowProtection(const std::vector<int>& nodes)
{
    for (int node : nodes) {
        QTreeWidgetItem* item = TreeItemOfNode(node);
        const std::string folder = NodeFolder(node);
        if (!item || folder.empty())
            continue;
        item->setIcon(0, !protection_.Empty() && protection_.IsProtected(folder) ? LockIcon() : QIcon());
    }
}

void CSnapsiftDlg::OnToggleProtection(int node)
{
    const std::string folder = NodeFolder(node);
    if (folder.empty())
        return;
    if (protection_.IsProtected(folder))
        protection_.Remove(folder);
    else
        protection_.Add(folder);
    SaveProtection();
    // Every node of that folder, wherever the tree shows it.
    std::vector<int> all(m_targets.nodes.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<int>(i);
    ShowProtection(all);
}

void CSnapsiftDlg::AddTreeEntries(QMenu& menu, QPoint globalPos)
{
    QWidget* viewport = m_folderTree->viewport();
    const QPoint pos = viewport->mapFromGlobal(globalPos);
    if (!viewport->rect().contains(pos))
        return;
    QTreeWidgetItem* item = m_folderTree->itemAt(pos);
    const int node = item ? item->data(0, Qt::UserRole).toInt() : -1;
    const std::string folder = NodeFolder(node);
    if (folder.empty())
        return;
    const bool isProtected = protection_.IsProtected(folder);
    QAction* action = menu.addAction(QString::fromUtf8(isProtected ? kUnprotectMenuText : kProtectMenuText));
    connect(action, &QAction::triggered, this, [this, node] { OnToggleProtection(node); });
    menu.addSeparator();
}

} // namespace snapsift
