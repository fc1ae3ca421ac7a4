// SPDX-License-Identifier: MIT
#include "ui/window/snapsift_dlg.h"

#include "platform/user_desktop.h"
#include "ui/app_resources.h"
#include "ui/preview/result_previews.h"
#include "ui/window/about_dlg.h"
#include "ui/window/file_opener.h"
#include "ui/window/qt_messenger.h"
#include "ui/window/qt_progress.h"
#include "ui/window/result_model.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
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
    if (!services_.openFile) {
        std::function<ShellResult(const std::string&)> launch = services_.launchFile;
        if (!launch)
            launch = [](const std::string& path) { return OpenWithDefaultProgram(path); };
        opener_ = new FileOpener(
            std::move(launch),
            [this](const std::string& path, const ShellResult& result, bool busy) { ReportOpen(path, result, busy); },
            this);
        services_.openFile = [opener = opener_](const std::string& path) { opener->Start(path); };
    }
    if (!services_.openHelp)
        services_.openHelp = [](const std::string& path) { return OpenWithDefaultProgram(path); };
    CreateControls();
    OnInitDialog();
    RestoreWindow();
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

    BuildTargets();

    m_view.buttons = ResultButtons{};
    m_options.m_bJpeg = true;
    UpdateData(false);
    MirrorResults();
    LoadPictureTypes();
    LoadProtection();
    ShowProtection(m_targets.Roots());
    for (int root : m_targets.Roots())
        ShowProtection(AnsweringNodes(m_targets.nodes[root].children));
    m_resultList->viewport()->installEventFilter(this);
    m_resultList->installEventFilter(this);
    m_folderTree->viewport()->installEventFilter(this);
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
    if (ExtensionWidth(ext.toStdString()) > kOtherExtLimit) {
        messenger_->Show(
            {ExtensionTooLongText(kOtherExtLimit), "Snapsift", MessageButtons::Ok, MessageIcon::Exclamation});
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

void CSnapsiftDlg::RestoreWindow()
{
    // Without remembered values the window opens as it always has: at its
    // own size, centred, with the columns as made.
    const WindowMemory memory = ReadWindowMemory();
    ownNameWidth_ = memory.ownNameWidth && memory.columns.size() == kResultColumnCount;
    SetResultColumnWidths(memory.columns);
    if (memory.hasGeometry) {
        QSize size = memory.size.expandedTo(baseSize_);
        if (const QScreen* screen = this->screen())
            size = size.boundedTo(screen->availableGeometry().size()).expandedTo(baseSize_);
        resize(size);
        // A place on a screen no longer there: centred, as at a first start.
        // One partly off its screen (another scale factor, a smaller
        // screen) is moved onto it.
        if (memory.hasPosition && TopEdgeOnAScreen(QRect(memory.position, size)))
            move(FitOnAScreen(QRect(memory.position, size)).topLeft());
        fitAfterShow_ = true;
    }
    if (memory.maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void CSnapsiftDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!fitAfterShow_)
        return;
    fitAfterShow_ = false;
    // Once the desktop has framed the window, the frame too must fit.
    QTimer::singleShot(kFrameSettleMs, this, &CSnapsiftDlg::FitFrameOnScreen);
}

void CSnapsiftDlg::FitFrameOnScreen()
{
    if (isMaximized() || !isVisible())
        return;
    const QRect frame = frameGeometry();
    const QRect fitted = FitOnAScreen(frame);
    if (fitted == frame)
        return;
    const QSize decoration = frame.size() - size();
    resize((fitted.size() - decoration).expandedTo(baseSize_));
    move(fitted.topLeft());
}

void CSnapsiftDlg::done(int result)
{
    WindowMemory memory = CurrentWindowMemory(*this, *m_resultList->header());
    memory.ownNameWidth = ownNameWidth_;
    WriteWindowMemory(memory);
    QDialog::done(result);
}

void CSnapsiftDlg::resizeEvent(QResizeEvent* event)
{
    edges_.Apply(baseSize_, size());
    QDialog::resizeEvent(event);
    if (m_resultList)
        FitNameColumn(false);
}

void CSnapsiftDlg::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    if (OffersTypeEntries(*event)) {
        AddTypeEntries(menu);
        menu.addSeparator();
    }
    if (event->reason() != QContextMenuEvent::Keyboard || m_folderTree->hasFocus()) {
        QPoint at = event->globalPos();
        if (event->reason() == QContextMenuEvent::Keyboard) {
            // By the keyboard: for the tree's current node.
            if (QTreeWidgetItem* current = m_folderTree->currentItem())
                at = m_folderTree->viewport()->mapToGlobal(m_folderTree->visualItemRect(current).center());
        }
        AddTreeEntries(menu, at);
    }
    previews_->AddListEntries(menu, event->globalPos(), event->reason() == QContextMenuEvent::Keyboard);
    QAction* about = menu.addAction(QString::fromUtf8(kAboutMenuText));
    connect(about, &QAction::triggered, this, &CSnapsiftDlg::ShowAboutBox);
    QAction* restore = menu.addAction(QString::fromUtf8(kRestoreLastMenuText));
    restore->setEnabled(CanRestoreLast());
    connect(restore, &QAction::triggered, this, &CSnapsiftDlg::OnRestoreLast);
    QAction* history = menu.addAction(QString::fromUtf8(kHistoryMenuText));
    connect(history, &QAction::triggered, this, &CSnapsiftDlg::OnHistory);
    menu.exec(event->globalPos());
}

bool CSnapsiftDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (OpenTypeMenuByKey(watched, event))
        return true;
    // A right-click on the list opens its menu for the row under the pointer
    // and leaves the selection (often the automatic one) as it was.
    // So does a right-click on the tree: it opens the tree's menu for the
    // folder under the pointer and leaves the search target as it was.
    if ((watched == m_resultList->viewport() || watched == m_folderTree->viewport()) &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
        return true;
    // Enter on the list opens the current row's file, as a double-click does.
    if (watched == m_resultList && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            OnResultDblClk();
            return true;
        }
    }
    // The menu key and Shift+F10 open it for the current row.
    const bool menuKey =
        event->type() == QEvent::KeyPress && (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Menu ||
                                              (static_cast<QKeyEvent*>(event)->key() == Qt::Key_F10 &&
                                               static_cast<QKeyEvent*>(event)->modifiers() == Qt::ShiftModifier));
    const bool keyboardMenu = event->type() == QEvent::ContextMenu &&
                              static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard;
    if ((watched == m_resultList || watched == m_resultList->viewport()) && (menuKey || keyboardMenu)) {
        {
            // With no current row yet, the first selected one (or the first
            // row) becomes current; the selection stays.
            if (!m_resultList->currentIndex().isValid() && resultModel_->rowCount() > 0) {
                const QModelIndexList selected = m_resultList->selectionModel()->selectedRows();
                m_resultList->selectionModel()->setCurrentIndex(
                    selected.isEmpty() ? resultModel_->index(0, 0) : selected.front(), QItemSelectionModel::NoUpdate);
            }
            const QModelIndex current = m_resultList->currentIndex();
            const QRect rect = current.isValid() ? m_resultList->visualRect(current) : QRect();
            const QPoint pos = rect.isValid() ? rect.center() : QPoint(0, 0);
            QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, pos, m_resultList->viewport()->mapToGlobal(pos));
            contextMenuEvent(&menuEvent);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CSnapsiftDlg::ShowAboutBox()
{
    CAboutDlg about([this] { OnHelp(); }, this);
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

}  // namespace snapsift
