// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace snapsift {

// What an entry of the duplicate-name combo box stands for. The window makes
// the words of the first three; a name is shown as it is.
enum class ComboEntryKind : std::uint8_t {
    Name,          // a file name that stands in two or more rows
    Prompt,        // asks the user to choose; lists nothing when chosen
    ShowAll,       // lists every row when chosen
    NoDuplicates,  // only ever in the field: the search found no repeated name
};

struct ComboEntry {
    ComboEntryKind kind = ComboEntryKind::Name;
    std::string name;  // the file name of a Name entry; empty for the others

    static ComboEntry Named(std::string name) { return ComboEntry{ComboEntryKind::Name, std::move(name)}; }
    static ComboEntry Of(ComboEntryKind kind) { return ComboEntry{kind, {}}; }
    friend bool operator==(const ComboEntry&, const ComboEntry&) = default;
};

// The duplicate-name combo box: an editable field over a list of entries.
// The window's combo box mirrors this object and reports the user's choices
// back to it; all the rules live here.
class DuplicateCombo final {
public:
    int GetCount() const { return static_cast<int>(entries_.size()); }
    int GetCurSel() const { return cursel_; }
    const ComboEntry& GetLBText(int index) const { return entries_.at(index); }
    const std::vector<ComboEntry>& Entries() const { return entries_; }
    // What the field shows; it may be no entry. An empty name when empty.
    const ComboEntry& Field() const { return field_; }

    // Removes every entry and empties the field.
    void ResetContent();
    // Replaces all entries at once; no entry is selected and the field is kept.
    void SetEntries(std::vector<ComboEntry> entries);
    // Puts `entry` at `index` (or last for -1) regardless of order.
    int InsertString(int index, ComboEntry entry);
    // Removes entry `index`. When it was selected, no entry is selected
    // afterwards and the field keeps what it showed. Returns the remaining count.
    int DeleteString(int index);
    // The first entry after `start` (wrapping; -1 searches from the top) of
    // the given kind; for names, one that begins with `name`, ASCII case
    // ignored. -1 when there is none.
    int FindString(int start, std::string_view name, ComboEntryKind kind = ComboEntryKind::Name) const;
    // Selects entry `index` (or none for -1), as a choice of the user does.
    void SetCurSel(int index);
    // Shows `entry` in the field without selecting anything.
    void SetField(ComboEntry entry) { field_ = std::move(entry); }

private:
    std::vector<ComboEntry> entries_;
    int cursel_ = -1;
    ComboEntry field_;
};

}  // namespace snapsift
