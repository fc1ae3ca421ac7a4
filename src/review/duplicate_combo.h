#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace snapsift {

// The duplicate-name combo box: an editable field over a list of entries.
// The window's combo box mirrors this object and reports the user's choices
// back to it; all the rules live here.
class DuplicateCombo final {
public:
    int GetCount() const { return static_cast<int>(entries_.size()); }
    int GetCurSel() const { return cursel_; }
    const std::string& GetLBText(int index) const { return entries_.at(index); }
    const std::vector<std::string>& Entries() const { return entries_; }
    // The text in the field; it may name no entry.
    const std::string& FieldText() const { return field_; }

    // Removes every entry and empties the field.
    void ResetContent();
    // Replaces all entries at once; no entry is selected and the field is kept.
    void SetEntries(std::vector<std::string> entries);
    // Puts `text` at its place in name order. Returns its position.
    int AddString(const std::string& text);
    // Puts `text` at `index` (or last for -1) regardless of order.
    int InsertString(int index, const std::string& text);
    // Removes entry `index`. When it was selected, no entry is selected
    // afterwards and the field keeps its text. Returns the remaining count.
    int DeleteString(int index);
    // The first entry after `start` (wrapping; -1 searches from the top) whose
    // text begins with `text`, ASCII case ignored; -1 when there is none.
    int FindString(int start, std::string_view text) const;
    // Selects what FindString(start, text) finds and shows it in the field.
    int SelectString(int start, std::string_view text);
    // Selects entry `index` (or none for -1), as a choice of the user does.
    void SetCurSel(int index);
    // Shows `text` in the field without selecting anything.
    void SetFieldText(std::string text) { field_ = std::move(text); }

private:
    std::vector<std::string> entries_;
    int cursel_ = -1;
    std::string field_;
};

} // namespace snapsift
