#include "review/duplicate_combo.h"

#include "platform/name_order.h"

#include <algorithm>

namespace snapsift {

void DuplicateCombo::ResetContent()
{
    entries_.clear();
    cursel_ = -1;
    field_.clear();
}

void DuplicateCombo::SetEntries(std::vector<std::string> entries)
{
    entries_ = std::move(entries);
    cursel_ = -1;
}

int DuplicateCombo::AddString(const std::string& text)
{
    const auto at = std::upper_bound(entries_.begin(), entries_.end(), text, NameLess());
    const int index = static_cast<int>(at - entries_.begin());
    entries_.insert(at, text);
    if (cursel_ >= index)
        ++cursel_;
    return index;
}

int DuplicateCombo::InsertString(int index, const std::string& text)
{
    if (index < 0 || index > GetCount())
        index = GetCount();
    entries_.insert(entries_.begin() + index, text);
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

int DuplicateCombo::FindString(int start, std::string_view text) const
{
    const int count = GetCount();
    if (count == 0)
        return -1;
    const int first = (start < 0 || start >= count) ? 0 : start + 1;
    for (int step = 0; step < count; ++step) {
        const int index = (first + step) % count;
        if (StartsWithIgnoringAsciiCase(entries_[index], text))
            return index;
    }
    return -1;
}

int DuplicateCombo::SelectString(int start, std::string_view text)
{
    const int index = FindString(start, text);
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
