// SPDX-License-Identifier: MIT
#include "ui/preview/result_previews.h"

#include "review/result_view.h"
#include "ui/preview/compare_window.h"
#include "ui/preview/picture_preview.h"
#include "ui/preview/preview_tip.h"
#include "ui/window_texts.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTreeView>

namespace snapsift {

ResultPreviews::ResultPreviews(QTreeView& list, const ResultView& view, OpenFile openFile, QWidget& window)
    : QObject(&window), list_(list), view_(view), openFile_(std::move(openFile)), window_(window)
{
    loader_ = new PreviewLoader(this);
    // The tooltip is a window of its own, not one of the main window's controls.
    tip_ = new PreviewTip(*loader_, nullptr);
    hover_.setSingleShot(true);
    hover_.setInterval(kHoverDelayMs);
    connect(&hover_, &QTimer::timeout, this, [this] { ShowTipAt(hoverPos_); });
    viewport_ = list_.viewport();
    viewport_->setMouseTracking(true);
    viewport_->installEventFilter(this);
    list_.installEventFilter(this);
    connect(list_.model(), &QAbstractItemModel::modelReset, tip_, &PreviewTip::Dismiss);
}

ResultPreviews::~ResultPreviews()
{
    delete compare_;
    delete tip_;
}

CompareWindow* ResultPreviews::Compare() const
{
    return compare_.data();
}

void ResultPreviews::ShowTipAt(QPoint viewportPos)
{
    const QModelIndex index = list_.indexAt(viewportPos);
    // Never over a menu: a right-click within the hover delay opens one.
    if (QApplication::activePopupWidget() || !index.isValid() || index.row() >= view_.list.GetItemCount() ||
        !list_.viewport()->rect().contains(viewportPos)) {
        tip_->Dismiss();
        return;
    }
    const std::string path = view_.table.Path(view_.list.TableRow(index.row()));
    tip_->ShowFor(path, list_.viewport()->mapToGlobal(viewportPos));
}

bool ResultPreviews::eventFilter(QObject* watched, QEvent* event)
{
    // Compared by address only: while the list is being destroyed its
    // viewport still sends events, and the list is no longer a list.
    if (watched == viewport_) {
        switch (event->type()) {
        case QEvent::ToolTip:
            ShowTipAt(static_cast<QHelpEvent*>(event)->pos());
            return true;
        case QEvent::MouseMove: {
            loader_->Prepare();  // a helper gets ready while the pointer comes to rest
            const QPoint pos = static_cast<QMouseEvent*>(event)->position().toPoint();
            if (tip_->isVisible() && list_.indexAt(pos).row() != list_.indexAt(hoverPos_).row())
                tip_->Dismiss();
            hoverPos_ = pos;
            hover_.start();
            break;
        }
        case QEvent::Leave:
        case QEvent::ContextMenu:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::Hide:
            hover_.stop();
            tip_->Dismiss();
            break;
        default:
            break;
        }
    } else if (watched == &list_ && (event->type() == QEvent::KeyPress || event->type() == QEvent::Hide)) {
        hover_.stop();
        tip_->Dismiss();
    }
    return QObject::eventFilter(watched, event);
}

int ResultPreviews::RowAt(QPoint globalPos, bool byKeyboard) const
{
    if (byKeyboard) {
        const QModelIndex current = list_.currentIndex();
        return list_.hasFocus() && current.isValid() ? current.row() : -2;
    }
    const QPoint pos = list_.viewport()->mapFromGlobal(globalPos);
    if (!list_.viewport()->rect().contains(pos))
        return -2;
    const QModelIndex index = list_.indexAt(pos);
    return index.isValid() ? index.row() : -1;
}

void ResultPreviews::AddListEntries(QMenu& menu, QPoint globalPos, bool byKeyboard)
{
    const int row = RowAt(globalPos, byKeyboard);
    if (row == -2)
        return;  // not on the list
    hover_.stop();
    tip_->Dismiss();  // the menu opens where the picture would cover it
    QAction* compare = menu.addAction(QString::fromUtf8(kCompareMenuText));
    compare->setEnabled(row >= 0 && row < view_.list.GetItemCount());
    connect(compare, &QAction::triggered, this, [this, row] { OpenCompareWindow(row); });
    menu.addSeparator();
}

void ResultPreviews::ContentChecked()
{
    if (compare_)
        compare_->UpdateContentMarks();
}

void ResultPreviews::OpenCompareWindow(int row)
{
    if (row < 0 || row >= view_.list.GetItemCount())
        return;
    tip_->Dismiss();
    if (!compare_) {
        compare_ = new CompareWindow(view_, *list_.selectionModel(), *loader_, openFile_, &window_);
        compare_->SetContentChecker(checker_);
    }
    compare_->ShowName(std::string(view_.table.Name(view_.list.TableRow(row))));
    compare_->show();
    compare_->raise();
    compare_->activateWindow();
}

}  // namespace snapsift
