// SPDX-License-Identifier: MIT
#include "review/duplicate_combo.h"

#include "platform/name_order.h"

namespace snapsift {

void DuplicateCombo::ResetContent()
{
    entries_.clear();
    cursel_ = -1;
    field_ = ComboEntry();
}

void DuplicateCombo::SetEntries(std::vector<ComboEntry> entries)
{
    entries_ = std::move(entries);
    cursel_ = -1;
}

int DuplicateCombo::InsertString(int index, ComboEntry entry)
{
    if (index < 0 || index > GetCount())
        index = GetCount();
    entries_.insert(entries_.begin() + index, std::move(entry));
    if (cursel_ >= index)
        ++cursel_;
    return index;
}

int DuplicateCombo::DeleteString(int index)
{
    if (index < 0 || index >= GetCount())
        return -1;
    entries_.erase(entries_.begin() + index);
    if (cursel_ == index)
        cursel_ = -1;
    else if (cursel_ > index)
        --cursel_;
    return GetCount();
}

int DuplicateCombo::FindString(int start, std::string_view name, ComboEntryKind kind) const
{
    const int count = GetCount();
    if (count == 0)
        return -1;
    const int first = (start < 0 || start >= count) ? 0 : start + 1;
    for (int step = 0; step < count; ++step) {
        const int index = (first + step) % count;
        const ComboEntry& entry = entries_[index];
        if (entry.kind == kind && (kind != ComboEntryKind::Name || StartsWithIgnoringAsciiCase(entry.name, name)))
            return index;
    }
    return -1;
}

void DuplicateCombo::SetCurSel(int index)
{
    if (index < 0 || index >= GetCount()) {
        cursel_ = -1;
        return;
    }
    cursel_ = index;
    field_ = entries_[index];
}

}  // namespace snapsift
