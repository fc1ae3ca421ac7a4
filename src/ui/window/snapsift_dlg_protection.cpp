// SPDX-License-Identifier: MIT
// Protected folders in the window: the tree's menu entry, the lock on the
// tree's nodes, and the list of folders kept between runs.
#include "platform/beside_call.h"
#include "ui/window/busy_window.h"
#include "ui/window/protection_settings.h"
#include "ui/window/settings_file.h"
#include "ui/window/snapsift_dlg.h"
#include "ui/window_texts.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace snapsift {
namespace {

const QString kProtectionGroup = QStringLiteral("protection");
const QString kFoldersArray = QStringLiteral("folders");
const QString kPathKey = QStringLiteral("path");
// How long the window waits for a protected folder's disk to answer.
constexpr std::chrono::milliseconds kProtectionLookLimit(2000);

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

}  // namespace

std::string CSnapsiftDlg::NodeFolder(int node) const
{
    if (node < 0 || node >= static_cast<int>(m_targets.nodes.size()))
        return {};
    const int row = m_targets.nodes[node].row;
    return row >= 0 ? m_targets.folders.m_folderPaths[row] : std::string();
}

void CSnapsiftDlg::LoadProtection()
{
    // Read from the file's text within fixed bounds, without looking at any
    // protected folder's disk: the paths were kept in their canonical form.
    const std::optional<std::string> text = ReadSettingsFile();
    if (!text) {
        std::fprintf(stderr, "snapsift: %s is not a regular file of a sensible size; settings not read\n",
                     SettingsFilePath().c_str());
        return;
    }
    const ProtectionSettings read = ReadProtectionSettings(*text);
    bool broken = false;
    for (const KeptFolder& folder : read.folders) {
        protection_.AddKept(folder.path, folder.written);
        broken = broken || !folder.written.empty();
    }
    if (read.cut) {
        std::fprintf(stderr, "snapsift: only the first %zu protected folders were read\n", kMaxProtectedFolders);
        QTimer::singleShot(0, this, [this] { ShowInformation(ProtectionCutText(kMaxProtectedFolders)); });
    } else if (broken) {
        // Kept in a form that any later write of the settings keeps as it is.
        SaveProtection();
    }
}

void CSnapsiftDlg::SaveProtection() const
{
    const std::unique_ptr<QSettings> settings = OpenSettings();
    if (!settings)
        return;
    settings->beginGroup(kProtectionGroup);
    settings->remove(QString());
    settings->beginWriteArray(kFoldersArray);
    int i = 0;
    for (const ProtectedFolders::Folder& folder : protection_.Folders()) {
        settings->setArrayIndex(i++);
        // A broken entry as the text it was written as; a path as its bytes.
        const auto size = static_cast<qsizetype>(folder.written.size());
        if (!folder.written.empty())
            settings->setValue(kPathKey, QString::fromUtf8(folder.written.data(), size));
        else
            settings->setValue(kPathKey, QByteArray::fromStdString(folder.path));
    }
    settings->endArray();
    settings->endGroup();
}

bool CSnapsiftDlg::NodeProtected(const std::string& folder) const
{
    // By the text alone: the tree is drawn without waiting on any disk. A
    // node reached through a link and protected in an earlier run shows no
    // lock, though its files are protected all the same.
    return protection_.NamesProtected(folder);
}

void CSnapsiftDlg::ShowProtection(const std::vector<int>& nodes)
{
    for (int node : nodes) {
        QTreeWidgetItem* item = TreeItemOfNode(node);
        const std::string folder = NodeFolder(node);
        if (!item || folder.empty())
            continue;
        item->setIcon(0, NodeProtected(folder) ? LockIcon() : QIcon());
    }
}

void CSnapsiftDlg::OnToggleProtection(int node)
{
    const std::string folder = NodeFolder(node);
    if (folder.empty())
        return;
    // As the menu said: a folder protected under another name becomes known
    // by this one too. Finding the folder resolves its path and looks at it,
    // which waits on its disk: that runs beside the window, on a copy.
    const bool protecting = !NodeProtected(folder);
    BesideCall<ProtectedFolders> changed([copy = protection_, folder, protecting]() mutable {
        if (protecting)
            copy.Add(folder);
        else
            copy.Remove(folder);
        return copy;
    });
    bool quit = false, stopped = false;
    {
        // Meanwhile the window paints; 終了 and the close box end the program,
        // Esc stops waiting, other input is thrown away.
        BusyWindow busy(this);
        busy.TakeRequests(m_quitButton, [&](BusyWindow::Request request) {
            if (request == BusyWindow::Request::Quit && !quit) {
                quit = true;
                done(QDialog::Rejected);  // the program ends as soon as this command returns
            }
            stopped = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + kProtectionLookLimit;
        while (!stopped && !changed.Wait(std::chrono::milliseconds(15)) && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    std::optional<ProtectedFolders> answer = changed.TakeOrGiveUp();
    if (quit)
        return;
    if (answer) {
        protection_ = std::move(*answer);
    } else if (protecting) {
        // Its disk does not answer: protected by its path for now; whoever
        // decides protection later resolves it again.
        protection_.AddKept(folder);
    } else {
        // Ended only once its disk answers: until then it stays protected.
        std::fprintf(stderr, "snapsift: %s does not answer; it stays protected\n", folder.c_str());
        return;
    }
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
    const bool isProtected = NodeProtected(folder);
    QAction* action = menu.addAction(QString::fromUtf8(isProtected ? kUnprotectMenuText : kProtectMenuText));
    connect(action, &QAction::triggered, this, [this, node] { OnToggleProtection(node); });
    AddBrokenProtectionEntries(menu);
    menu.addSeparator();
}

void CSnapsiftDlg::AddBrokenProtectionEntries(QMenu& menu) const
{
    // Entries of the settings that are no path as written: shown, never
    // dropped; each still protects the folder of its best reading.
    constexpr int kShown = 10;
    int shown = 0;
    for (const ProtectedFolders::Folder& folder : protection_.Folders()) {
        if (folder.written.empty())
            continue;
        if (shown++ == kShown) {
            menu.addAction(QStringLiteral("…"))->setEnabled(false);
            break;
        }
        const QString text = QString::fromUtf8(BrokenProtectionText(folder.written));
        menu.addAction(text)->setEnabled(false);
    }
}

}  // namespace snapsift
