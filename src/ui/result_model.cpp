#include "ui/result_model.h"

#include "review/result_view.h"
#include "ui/display_text.h"

namespace snapsift {

ResultModel::ResultModel(const ResultView& view, QObject* parent) : QAbstractTableModel(parent), view_(view) {}

int ResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : view_.list.GetItemCount();
}

int ResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 4;
}

QVariant ResultModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= view_.list.GetItemCount())
        return {};
    const FileTable& table = view_.table;
    const int row = view_.list.TableRow(index.row());
    const int column = index.column();
    if (column == view_.m_colName)
        return DisplayText(table.m_names[row]);
    if (column == view_.m_colSize)
        return DisplayText(table.m_sizes[row]);
    if (column == view_.m_colDate)
        return DisplayText(table.m_dates[row]);
    if (column == view_.m_colPath)
        return DisplayText(table.m_paths[row]);
    return {};
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const kHeaders[] = {"ファイル名", "サイズ", "作成年月日", "パス"};
    return section >= 0 && section < 4 ? QString::fromUtf8(kHeaders[section]) : QVariant();
}

void ResultModel::Rebuilt()
{
    beginResetModel();
    endResetModel();
}

} // namespace snapsift
