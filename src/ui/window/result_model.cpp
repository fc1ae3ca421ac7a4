// SPDX-License-Identifier: MIT
#include "ui/window/result_model.h"

#include "review/result_view.h"
#include "ui/display_text.h"
#include "ui/fact_texts.h"
#include "ui/window_texts.h"

#include <QFocusEvent>
#include <QItemSelectionModel>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace snapsift {

ResultModel::ResultModel(const ResultView& view, QObject* parent) : QAbstractTableModel(parent), view_(view)
{ }

int ResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : view_.list.GetItemCount();
}

int ResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kResultColumnCount;
}

QVariant ResultModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= view_.list.GetItemCount())
        return {};
    const FileTable& table = view_.table;
    const int row = view_.list.TableRow(index.row());
    switch (index.column()) {
    case kNameColumn:
        return ShownText(table.Name(row));
    case kSizeColumn:
        return DisplayText(SizeText(table.Size(row)));
    case kDateColumn:
        return DisplayText(DateText(table.CreationTime(row)));
    case kPathColumn:
        return ShownText(table.Path(row));
    default:
        return {};
    }
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section >= 0 && section < kResultColumnCount ? QString::fromUtf8(ResultColumnHeading(section)) : QVariant();
}

void ResultModel::Rebuilt()
{
    beginResetModel();
    endResetModel();
}

void ResultListView::focusInEvent(QFocusEvent* event)
{
    // Only the frame: the selection stays as it is.
    if (!currentIndex().isValid() && model() && model()->rowCount() > 0)
        selectionModel()->setCurrentIndex(model()->index(0, 0), QItemSelectionModel::NoUpdate);
    QTreeView::focusInEvent(event);
}

void ResultListView::paintEvent(QPaintEvent* event)
{
    QTreeView::paintEvent(event);
    if (!hasFocus() || (model() && model()->rowCount() > 0))
        return;
    QPainter painter(viewport());
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    frame.rect = viewport()->rect().adjusted(1, 1, -1, -1);
    frame.backgroundColor = palette().color(QPalette::Base);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
}

}  // namespace snapsift
