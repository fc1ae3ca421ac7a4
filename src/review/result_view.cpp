#include "review/result_view.h"

#include <numeric>

namespace snapsift {

const char* const kPromptText = "重複検出、ここから選んで下さい";
const char* const kShowAllText = "すべて表示";
const char* const kNoDuplicatesText = "重複ファイルはありません";

bool ResultView::FillResultView()
{
    list.DeleteAllItems();
    combo.ResetContent();
    if (table.RowCount() != 0)
        buttons.clear = true;

    std::vector<int> rows(static_cast<std::size_t>(table.RowCount()));
    std::iota(rows.begin(), rows.end(), 0);
    list.SetRows(table, std::move(rows));

    // In name order, rows with exactly equal names stand next to each other
    // (names that differ only in case are ordered by their bytes), so one walk
    // finds every repeated name, already in the combo's order.
    std::vector<std::string> duplicates;
    const int count = list.GetItemCount();
    for (int r = 0; r < count;) {
        const std::string_view name = table.Name(list.TableRow(r));
        int end = r + 1;
        while (end < count && table.Name(list.TableRow(end)) == name)
            ++end;
        if (end - r >= 2)
            duplicates.emplace_back(name);
        r = end;
    }

    if (duplicates.empty()) {
        combo.SetFieldText(kNoDuplicatesText);
        return true;
    }
    duplicates.insert(duplicates.begin(), kPromptText);
    combo.SetEntries(std::move(duplicates));
    combo.SetCurSel(0);
    buttons.autoSelect = true;
    buttons.deleteSelected = true;
    return true;
}

void ResultView::ShowSelectedDuplicates()
{
    list.DeleteAllItems();
    const int selected = combo.GetCurSel();
    if (selected == -1)
        return;
    const std::string text = combo.GetLBText(selected);
    if (text == kShowAllText) {
        FillResultView();
        return;
    }
    std::vector<int> rows;
    for (int i = 0; i < table.RowCount(); ++i) {
        if (table.Name(i) == text)
            rows.push_back(i);
    }
    list.SetRows(table, std::move(rows));
}

void ResultView::OnDuplicateDropDown()
{
    if (combo.FindString(-1, kPromptText) == -1)
        return;
    // Position 0 whatever the search found. A chosen name stays chosen; a
    // selected prompt leaves nothing selected and its text in the field.
    combo.DeleteString(0);
    combo.InsertString(0, kShowAllText);
}

void ResultView::ClearResults()
{
    buttons.autoSelect = false;
    buttons.deleteSelected = false;
    buttons.clear = false;
    list.DeleteAllItems();
    combo.ResetContent();
    table.ClearFileTable();
}

} // namespace snapsift
