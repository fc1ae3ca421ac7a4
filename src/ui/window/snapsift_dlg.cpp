#include "ui/window/snapsift_dlg.h"

#include "platform/desktop.h"
#include "platform/mounts.h"
#include "platform/shell.h"
#include "ui/app_resources.h"
#include "ui/preview/result_previews.h"
#include "ui/window/about_dlg.h"
#include "ui/window/qt_messenger.h"
#include "ui/window/qt_progress.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>

namespace snapsift {


CSnapsiftDlg::CSnapsiftDlg(WindowServices services, QWidget* parent) : QDialog(parent), services_(std::move(services))
{
    if (services_.messenger) {
        messenger_ = services_.messenger;
    } else {
        ownMessenger_ = std::make_unique<QtMessenger>(this);
        messenger_ = ownMessenger_.get();
    }
    if (!services_.openFile)
        services_.openFile = [](const std::string& path) { OpenWithDefaultProgram(path); };
    CreateControls();
    OnInitDialog();
}

CSnapsiftDlg::~CSnapsiftDlg()
{
    // The list and the combo box read m_view until the dialog base hides them,
    // which is after the members are gone: hide them while m_view still lives.
    hide();
}

void CSnapsiftDlg::OnInitDialog()
{
    UpdateData(false);
    setWindowIcon(ProgramIcon());

    m_targets.BuildFolderTree(ListDrives(ReadMountTable()), DesktopFolder());
    treeItems_.assign(m_targets.nodes.size(), nullptr);
    AddTreeItems(m_targets.Roots());
    for (int root : m_targets.Roots())
        AddTreeItems(m_targets.nodes[root].children);

    m_view.buttons = ResultButtons{};
    m_options.m_bJpeg = true;
    UpdateData(false);
    MirrorResults();
    m_folderTree->setFocus(Qt::OtherFocusReason);
}

bool CSnapsiftDlg::UpdateData(bool save)
{
    if (!save) {
        m_checkJpeg->setChecked(m_options.m_bJpeg);
        m_checkGif->setChecked(m_options.m_bGif);
        m_checkBmp->setChecked(m_options.m_bBmp);
        m_checkOther->setChecked(m_options.m_bOther);
        m_otherExt->setText(QString::fromUtf8(m_options.m_strOtherExt.c_str()));
        return true;
    }
    m_options.m_bJpeg = m_checkJpeg->isChecked();
    m_options.m_bGif = m_checkGif->isChecked();
    m_options.m_bBmp = m_checkBmp->isChecked();
    m_options.m_bOther = m_checkOther->isChecked();
    const QByteArray ext = m_otherExt->text().toUtf8();
    if (ext.size() > kOtherExtLimit) {
        messenger_->Show({ExtensionTooLongText(kOtherExtLimit), "Snapsift", MessageButtons::Ok, MessageIcon::Exclamation});
        m_otherExt->setFocus(Qt::OtherFocusReason);
        m_otherExt->selectAll();
        return false;
    }
    m_options.m_strOtherExt = ext.toStdString();
    return true;
}

void CSnapsiftDlg::accept()
{
    // The OK command (Enter with no push button focused) does nothing.
}

void CSnapsiftDlg::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    previews_->AddListEntries(menu, event->globalPos(), event->reason() == QContextMenuEvent::Keyboard);
    QAction* about = menu.addAction(QString::fromUtf8(kAboutMenuText));
    connect(about, &QAction::triggered, this, &CSnapsiftDlg::ShowAboutBox);
    QAction* restore = menu.addAction(QString::fromUtf8(kRestoreLastMenuText));
    restore->setEnabled(CanRestoreLast());
    connect(restore, &QAction::triggered, this, &CSnapsiftDlg::OnRestoreLast);
    menu.exec(event->globalPos());
}

void CSnapsiftDlg::ShowAboutBox()
{
    CAboutDlg about(services_.openFile, this);
    about.exec();
}

void CSnapsiftDlg::OnVersion()
{
    ShowAboutBox();
}

QTreeWidgetItem* CSnapsiftDlg::TreeItemOfNode(int node) const
{
    return node >= 0 && node < static_cast<int>(treeItems_.size()) ? treeItems_[node] : nullptr;
}

void EndProgram(int status)
{
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace snapsift
