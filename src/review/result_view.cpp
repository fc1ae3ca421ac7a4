// SPDX-License-Identifier: MIT
#include "review/result_view.h"

#include <numeric>

namespace snapsift {

void ResultView::FillResultView()
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
    // Counted first, so that the entries are allocated once at their size.
    const int count = list.GetItemCount();
    const auto eachRepeatedName = [this, count](auto&& use) {
        for (int r = 0; r < count;) {
            const std::string_view name = table.Name(list.TableRow(r));
            int end = r + 1;
            while (end < count && table.Name(list.TableRow(end)) == name)
                ++end;
            if (end - r >= 2)
                use(name);
            r = end;
        }
    };
    std::size_t repeated = 0;
    eachRepeatedName([&repeated](std::string_view) { ++repeated; });
    std::vector<ComboEntry> duplicates;
    duplicates.reserve(repeated + 1);
    duplicates.push_back(ComboEntry::Of(ComboEntryKind::Prompt));
    eachRepeatedName(
        [&duplicates](std::string_view name) { duplicates.push_back(ComboEntry::Named(std::string(name))); });

    if (duplicates.size() == 1) {
        combo.SetField(ComboEntry::Of(ComboEntryKind::NoDuplicates));
        return;
    }
    combo.SetEntries(std::move(duplicates));
    combo.SetCurSel(0);
    buttons.autoSelect = true;
    buttons.deleteSelected = true;
}

void ResultView::ShowSelectedDuplicates()
{
    list.DeleteAllItems();
    const int selected = combo.GetCurSel();
    if (selected == -1)
        return;
    const ComboEntry entry = combo.GetLBText(selected);
    if (entry.kind == ComboEntryKind::ShowAll) {
        FillResultView();
        return;
    }
    if (entry.kind != ComboEntryKind::Name)
        return;
    std::vector<int> rows;
    for (int i = 0; i < table.RowCount(); ++i) {
        if (table.Name(i) == entry.name)
            rows.push_back(i);
    }
    list.SetRows(table, std::move(rows));
}

void ResultView::OnDuplicateDropDown()
{
    const int prompt = combo.FindString(-1, {}, ComboEntryKind::Prompt);
    if (prompt == -1)
        return;
    // A chosen name stays chosen; a selected prompt leaves nothing selected
    // and itself in the field.
    combo.DeleteString(prompt);
    combo.InsertString(prompt, ComboEntry::Of(ComboEntryKind::ShowAll));
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

}  // namespace snapsift
