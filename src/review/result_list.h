// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <vector>

namespace snapsift {

class FileTable;

// The rows the result list shows, in name order. A row refers to a file-table
// row by its index; the list is rebuilt whenever the table changes shape.
// Which rows are selected is kept where they are shown: the window's
// selection, or a plain set of list rows.
class ResultList final {
public:
    int GetItemCount() const { return static_cast<int>(rows_.size()); }
    // The file-table row that list row `row` shows.
    int TableRow(int row) const { return rows_.at(row); }

    void DeleteAllItems();
    // Shows the table rows `tableRows` in name order; rows of equal names keep
    // the order in which they are given.
    void SetRows(const FileTable& table, std::vector<int> tableRows);

private:
    std::vector<int> rows_;
};

}  // namespace snapsift
