// SPDX-License-Identifier: MIT
#pragma once

#include "review/auto_select.h"
#include "review/duplicate_combo.h"
#include "review/result_list.h"
#include "scan/file_table.h"

#include <vector>

namespace snapsift {

// The enabled state of the three buttons that act on results.
struct ResultButtons {
    bool autoSelect = false;
    bool deleteSelected = false;
    bool clear = false;
};

// The result list's columns, in their order on screen. The window's model and
// its column widths both take them from here.
enum ResultColumn : int {
    kNameColumn,
    kSizeColumn,
    kDateColumn,
    kPathColumn,
    kResultColumnCount
};

// What the window shows of the last search: the file table, the result list,
// the duplicate-name combo box and the enabled state of the buttons on them.
class ResultView final {
public:
    FileTable table;
    ResultList list;
    DuplicateCombo combo;
    ResultButtons buttons;

    // Shows every table row in name order and offers, once each, every name
    // that stands in two or more rows (bytes compared exactly), below the
    // prompt; with none, the field says there are none.
    void FillResultView();
    // Shows the rows of the name chosen in the combo box; the show-all entry
    // runs FillResultView instead, and the prompt shows nothing.
    void ShowSelectedDuplicates();
    // Before the combo's list opens: the prompt gives way to the show-all entry.
    void OnDuplicateDropDown();
    // Empties the list, the combo box and the table and disables the buttons.
    void ClearResults();
};

}  // namespace snapsift
