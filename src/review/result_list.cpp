// SPDX-License-Identifier: MIT
#include "review/result_list.h"

#include "platform/name_order.h"
#include "scan/file_table.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace snapsift {
namespace {

// Eight bytes of a row's name as one number, and where the row was given.
#pragma pack(push, 4)
struct KeyedRow {
    std::uint64_t key;
    int given;
};
#pragma pack(pop)

// Bytes offset to offset + 7 of `name` as CompareNames sees them (ASCII
// letters folded, bytes past the end as zero), the first most significant.
std::uint64_t NameChunk(std::string_view name, std::size_t offset)
{
    std::uint64_t key = 0;
    for (std::size_t i = offset; i < offset + 8; ++i) {
        const unsigned char c = i < name.size() ? static_cast<unsigned char>(name[i]) : 0;
        key = (key << 8) | FoldAsciiCase(c);
    }
    return key;
}

// Sorts keyed[first, last) in name order, rows of equal names in the order
// given; their names agree on their first `offset` bytes as CompareNames sees
// them. Comparing names one pair at a time reads two names far apart in
// memory at every step, which on large lists costs more than all else: the
// rows are ordered eight bytes of name at a time instead, and CompareNames
// decides only among rows whose names agree as far as the longest of them
// goes. Where two chunks differ, CompareNames orders their names the same
// way: a shorter name's missing bytes count as zero, below any byte the
// longer one has.
void SortByName(const FileTable& table, const std::vector<int>& given, std::vector<KeyedRow>& keyed, std::size_t first,
                std::size_t last, std::size_t offset)
{
    auto nameOf = [&](const KeyedRow& k) -> std::string_view {
        return table.Name(given[static_cast<std::size_t>(k.given)]);
    };
    bool longer = false;
    for (std::size_t i = first; i < last; ++i) {
        const std::string_view name = nameOf(keyed[i]);
        keyed[i].key = NameChunk(name, offset);
        longer = longer || name.size() > offset + 8;
    }
    const auto at = [&keyed](std::size_t i) { return keyed.begin() + static_cast<std::ptrdiff_t>(i); };
    std::sort(at(first), at(last),
              [](const KeyedRow& a, const KeyedRow& b) { return a.key != b.key ? a.key < b.key : a.given < b.given; });
    for (std::size_t run = first; run < last;) {
        std::size_t next = run + 1;
        while (next < last && keyed[next].key == keyed[run].key)
            ++next;
        if (next - run >= 2 && longer) {
            SortByName(table, given, keyed, run, next, offset + 8);
        } else if (next - run >= 2) {
            std::sort(at(run), at(next), [&](const KeyedRow& a, const KeyedRow& b) {
                const int order = CompareNames(nameOf(a), nameOf(b));
                return order != 0 ? order < 0 : a.given < b.given;
            });
        }
        run = next;
    }
}

}  // namespace

void ResultList::DeleteAllItems()
{
    rows_.clear();
}

void ResultList::SetRows(const FileTable& table, std::vector<int> tableRows)
{
    std::vector<KeyedRow> keyed(tableRows.size());
    for (std::size_t i = 0; i < keyed.size(); ++i)
        keyed[i].given = static_cast<int>(i);
    SortByName(table, tableRows, keyed, 0, keyed.size(), 0);
    for (KeyedRow& k : keyed)
        k.key = static_cast<std::uint64_t>(tableRows[static_cast<std::size_t>(k.given)]);
    for (std::size_t i = 0; i < keyed.size(); ++i)
        tableRows[i] = static_cast<int>(keyed[i].key);
    rows_ = std::move(tableRows);
}

}  // namespace snapsift
