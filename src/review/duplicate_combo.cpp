// SPDX-License-Identifier: MIT
#include "review/duplicate_combo.h"

#include "platform/name_order.h"

#include <algorithm>

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

int DuplicateCombo::AddString(const std::string& name)
{
    // Among the names; an entry of another kind stays where it stands.
    const auto at = std::upper_bound(entries_.begin(), entries_.end(), name,
                                     [](const std::string& n, const ComboEntry& e) {
                                         return e.kind == ComboEntryKind::Name && NameLess()(n, e.name);
                                     });
    const int index = static_cast<int>(at - entries_.begin());
    entries_.insert(at, ComboEntry::Named(name));
    if (cursel_ >= index)
        ++cursel_;
    return index;
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

int DuplicateCombo::SelectString(int start, std::string_view name)
{
    const int index = FindString(start, name);
    if (index >= 0)
        SetCurSel(index);
    return index;
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

} // namespace snapsift
