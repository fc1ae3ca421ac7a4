// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <vector>

namespace snapsift {

class FileTable;

// The rows the result list shows, in name order. A row refers to a file-table
// row by its index; the list is rebuilt whenever the table changes shape.
class ResultList final {
public:
    int GetItemCount() const { return static_cast<int>(rows_.size()); }
    // The file-table row that list row `row` shows.
    int TableRow(int row) const { return rows_.at(row); }

    void DeleteAllItems();
    // Shows the table rows `tableRows` in name order; rows of equal names keep
    // the order in which they are given.
    void SetRows(const FileTable& table, std::vector<int> tableRows);

    bool IsSelected(int row) const { return selected_.at(row) != 0; }
    void SetSelected(int row, bool selected) { selected_.at(row) = selected ? 1 : 0; }
    void ClearSelection();
    int SelectedCount() const;

    // The row that holds the focus, or -1.
    void SetFocusedRow(int row) { focused_ = (row >= 0 && row < GetItemCount()) ? row : -1; }

private:
    std::vector<int> rows_;
    std::vector<std::uint8_t> selected_;
    int focused_ = -1;
};

} // namespace snapsift
