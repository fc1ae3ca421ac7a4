#include "review/result_list.h"

#include "platform/name_order.h"
#include "scan/file_table.h"

#include <algorithm>

namespace snapsift {

void ResultList::DeleteAllItems()
{
    rows_.clear();
    selected_.clear();
    focused_ = -1;
}

void ResultList::SetRows(const FileTable& table, std::vector<int> tableRows)
{
    std::stable_sort(tableRows.begin(), tableRows.end(), [&table](int a, int b) {
        return CompareNames(table.m_names[a], table.m_names[b]) < 0;
    });
    rows_ = std::move(tableRows);
    selected_.assign(rows_.size(), 0);
    focused_ = -1;
}

void ResultList::ClearSelection()
{
    std::fill(selected_.begin(), selected_.end(), 0);
}

int ResultList::SelectedCount() const
{
    return static_cast<int>(std::count(selected_.begin(), selected_.end(), 1));
}

} // namespace snapsift
