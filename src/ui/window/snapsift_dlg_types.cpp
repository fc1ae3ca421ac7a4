// SPDX-License-Identifier: MIT
// The further picture types in the window: the menu entry that chooses them,
// the line and tooltips that say which are chosen, and their memory.
#include "ui/picture_type_texts.h"
#include "ui/window/dialog_units.h"
#include "ui/window/picture_types_dlg.h"
#include "ui/window/snapsift_dlg.h"

#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTreeWidget>

#include <memory>

namespace snapsift {

void CSnapsiftDlg::PlaceTypeControls(bool withLine)
{
    // With types chosen, the tree gives up one line at its foot, the four
    // types and the box move up by as much, and the line stands under them.
    const DialogUnits du(font());
    const int up = withLine ? 10 : 0;
    edges_.Add(m_folderTree, du.Rect(10, 15, 90, 89 - up), kGrowHeight);
    edges_.Add(m_checkJpeg, du.Rect(10, 106 - up, 63, 8), kFollowBottom);
    edges_.Add(m_checkBmp, du.Rect(10, 115 - up, 77, 10), kFollowBottom);
    edges_.Add(m_checkGif, du.Rect(10, 126 - up, 60, 8), kFollowBottom);
    edges_.Add(m_checkOther, du.Rect(10, 136 - up, 53, 8), kFollowBottom);
    edges_.Add(m_otherExt, du.Rect(71, 134 - up, 30, 12), kFollowBottom);
    if (m_typesLine)
        edges_.Add(m_typesLine, du.Rect(10, 138, 91, 9), kFollowBottom);
}

void CSnapsiftDlg::LoadPictureTypes()
{
    m_options.pictureKinds = ReadChosenPictureTypes();
    ShowChosenTypes();
}

void CSnapsiftDlg::ShowChosenTypes()
{
    const PictureKinds kinds = m_options.pictureKinds;
    // Until a type is chosen the window has no line at all: as it always was.
    if (kinds.Empty() && !m_typesLine)
        return;
    if (!m_typesLine) {
        m_typesLine = new QLabel(this);
        m_typesLine->setTextFormat(Qt::PlainText);
        m_typesLine->setAccessibleName(QString::fromUtf8(kPictureTypesTitleText));
    }
    const QString tip = QString::fromStdString(ChosenTypesTipText(kinds));
    for (QWidget* w :
         {static_cast<QWidget*>(m_checkOther), static_cast<QWidget*>(m_otherExt), static_cast<QWidget*>(m_typesLine)})
        w->setToolTip(tip);
    PlaceTypeControls(!kinds.Empty());
    edges_.Apply(baseSize_, size());
    const QString line = QString::fromStdString(ChosenTypesLineText(kinds));
    m_typesLine->setText(m_typesLine->fontMetrics().elidedText(line, Qt::ElideRight, m_typesLine->width()));
    m_typesLine->setVisible(!kinds.Empty());
}

void CSnapsiftDlg::OnChoosePictureTypes()
{
    PictureTypesDlg choose(m_options.pictureKinds, this);
    if (choose.exec() != QDialog::Accepted)
        return;
    m_options.pictureKinds = choose.Chosen();
    WriteChosenPictureTypes(m_options.pictureKinds);
    ShowChosenTypes();
}

void CSnapsiftDlg::AddTypeEntries(QMenu& menu)
{
    QAction* choose = menu.addAction(QString::fromUtf8(kChoosePictureTypesMenuText));
    connect(choose, &QAction::triggered, this, &CSnapsiftDlg::OnChoosePictureTypes, Qt::QueuedConnection);
}

bool CSnapsiftDlg::OffersTypeEntries(const QContextMenuEvent& event) const
{
    if (event.reason() == QContextMenuEvent::Keyboard)
        return m_checkOther->hasFocus();
    const QPoint at = mapFromGlobal(event.globalPos());
    for (const QWidget* w : {static_cast<const QWidget*>(m_checkOther), static_cast<const QWidget*>(m_otherExt),
                             static_cast<const QWidget*>(m_typesLine)}) {
        if (w && w->isVisible() && w->geometry().contains(at))
            return true;
    }
    return false;
}

void CSnapsiftDlg::ShowExtensionBoxMenu(QPoint pos)
{
    // The box's own menu (undo, copy, paste and the rest), and the entry.
    const std::unique_ptr<QMenu> menu(m_otherExt->createStandardContextMenu());
    menu->addSeparator();
    AddTypeEntries(*menu);
    menu->exec(m_otherExt->mapToGlobal(pos));
}

bool CSnapsiftDlg::OpenTypeMenuByKey(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || (watched != m_checkOther && watched != m_otherExt))
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Menu && !(key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier))
        return false;
    if (watched == m_otherExt) {
        ShowExtensionBoxMenu(m_otherExt->rect().center());
        return true;
    }
    const QPoint at = m_checkOther->rect().center();
    QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, mapFromGlobal(m_checkOther->mapToGlobal(at)),
                                m_checkOther->mapToGlobal(at));
    contextMenuEvent(&menuEvent);
    return true;
}

void CSnapsiftDlg::ConnectTypeControls()
{
    m_otherExt->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_otherExt, &QLineEdit::customContextMenuRequested, this, &CSnapsiftDlg::ShowExtensionBoxMenu);
    // The menu key and Shift+F10 open the menus as a right-click does.
    m_checkOther->installEventFilter(this);
    m_otherExt->installEventFilter(this);
}

}  // namespace snapsift
