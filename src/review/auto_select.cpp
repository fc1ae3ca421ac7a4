// SPDX-License-Identifier: MIT
#include "review/auto_select.h"

#include "platform/progress.h"
#include "review/content_check.h"
#include "review/result_view.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

namespace snapsift {
namespace {

std::uint64_t GroupHash(std::string_view name, std::uint64_t size)
{
    // FNV-1a over the name, a separator byte, and the size's eight bytes.
    std::uint64_t h = 14695981039346656037ULL;
    auto add = [&h](unsigned char c) { h = (h ^ c) * 1099511628211ULL; };
    for (const char c : name)
        add(static_cast<unsigned char>(c));
    add(0);
    for (int i = 0; i < 8; ++i)
        add(static_cast<unsigned char>(size >> (8 * i)));
    return h;
}

// The (name, size) groups of the whole table: each row's group, and each
// group's latest row.
struct Grouping {
    std::vector<std::uint32_t> groupOfRow;
    std::vector<int> latest;
};

// One slot of the open-addressed table that groups the rows.
struct Slot {
    std::uint32_t hash = 0;  // the hash's upper half; then the group's number
    int latest = -1;         // -1: empty
};

// Puts row `k` in its group's slot, given its hash, and returns the slot.
std::size_t Place(const FileTable& table, std::vector<Slot>& slots, std::uint64_t h, int k)
{
    const std::size_t mask = slots.size() - 1;
    const auto tag = static_cast<std::uint32_t>(h >> 32);
    for (std::size_t i = static_cast<std::size_t>(h) & mask;; i = (i + 1) & mask) {
        Slot& slot = slots[i];
        if (slot.latest < 0) {
            slot.hash = tag;
            slot.latest = k;
            return i;
        }
        const int other = slot.latest;
        if (slot.hash == tag && table.Size(other) == table.Size(k) && table.Name(other) == table.Name(k)) {
            if (table.CreationTime(other) < table.CreationTime(k))
                slot.latest = k;
            return i;
        }
    }
}

// Groups the rows in an open-addressed table of row numbers: one allocation,
// however many rows, given back before the groups are used.
Grouping GroupByNameAndSize(const FileTable& table)
{
    const std::size_t rows = static_cast<std::size_t>(table.RowCount());
    std::size_t capacity = 16;
    while (capacity < rows + rows / 2)
        capacity *= 2;
    std::vector<Slot> slots(capacity);
    Grouping grouping;
    grouping.groupOfRow.resize(rows);  // first each row's slot
    // Rows go in small batches whose slots, and the next batch's names, are
    // fetched ahead, so a table too big for the processor's caches is not
    // waited on row by row.
    constexpr std::size_t kBatch = 16;
    std::uint64_t hashes[kBatch];
    for (std::size_t base = 0; base < rows; base += kBatch) {
        const std::size_t end = std::min(rows, base + kBatch);
        for (std::size_t k = end; k < std::min(rows, end + kBatch); ++k)
            __builtin_prefetch(table.Name(static_cast<int>(k)).data());
        for (std::size_t k = base; k < end; ++k) {
            hashes[k - base] = GroupHash(table.Name(static_cast<int>(k)), table.Size(static_cast<int>(k)));
            __builtin_prefetch(&slots[static_cast<std::size_t>(hashes[k - base]) & (capacity - 1)]);
        }
        for (std::size_t k = base; k < end; ++k)
            grouping.groupOfRow[k] =
                static_cast<std::uint32_t>(Place(table, slots, hashes[k - base], static_cast<int>(k)));
    }
    for (Slot& slot : slots) {
        if (slot.latest < 0)
            continue;
        slot.hash = static_cast<std::uint32_t>(grouping.latest.size());
        grouping.latest.push_back(slot.latest);
    }
    for (std::uint32_t& group : grouping.groupOfRow)
        group = slots[group].hash;
    return grouping;
}

// Of the rows the list shows, one flag each: what name, size and time alone
// would pick (a later copy exists, by a whole second), protected rows left out.
std::vector<std::uint8_t> PickByTime(const ResultView& view, const Grouping& grouping, const AutoSelectOptions& options,
                                     AutoSelectOutcome& outcome)
{
    const FileTable& table = view.table;
    const std::size_t rows = grouping.groupOfRow.size();
    const bool anyProtected = options.protectedRows && options.protectedRows->size() == rows;
    const int n = view.list.GetItemCount();
    std::vector<std::uint8_t> pick(static_cast<std::size_t>(n));
    for (int j = 0; j < n; ++j) {
        const int k = view.list.TableRow(j);
        const int latest = grouping.latest[grouping.groupOfRow[static_cast<std::size_t>(k)]];
        if (latest == k || table.CreationTime(k) >= table.CreationTime(latest))
            continue;  // the latest of its group, alone in it, or as late as the latest
        if (anyProtected && (*options.protectedRows)[static_cast<std::size_t>(k)]) {
            ++outcome.protectedRows;
            continue;
        }
        pick[static_cast<std::size_t>(j)] = 1;
    }
    return pick;
}

// The groups of the picked rows, flat, in the order their first picked rows
// are listed: each group's rows newest first (rows of one time in table
// order), down to its oldest picked row, as older rows are never needed.
// Takes each group's latest row, no longer needed, as room to number them.
CopyGroups GroupsToCompare(const ResultView& view, const std::vector<std::uint32_t>& groupOfRow,
                           std::vector<int> latest, const std::vector<std::uint8_t>& pick)
{
    const FileTable& table = view.table;
    std::vector<int>& numberOf = latest;
    std::fill(numberOf.begin(), numberOf.end(), -1);
    std::vector<std::uint8_t> asked(groupOfRow.size());
    CopyGroups groups;
    for (std::size_t j = 0; j < pick.size(); ++j) {
        if (!pick[j])
            continue;
        const auto k = static_cast<std::size_t>(view.list.TableRow(static_cast<int>(j)));
        asked[k] = 1;
        if (int& number = numberOf[groupOfRow[k]]; number < 0) {
            number = static_cast<int>(groups.starts.size());
            groups.starts.push_back(0);
        }
    }
    if (groups.starts.empty())
        return groups;
    // Counted, then placed in table order, each group's rows in a stretch of its own.
    std::vector<std::uint32_t> next(groups.starts.size() + 1);
    for (const std::uint32_t group : groupOfRow) {
        if (numberOf[group] >= 0)
            ++next[static_cast<std::size_t>(numberOf[group]) + 1];
    }
    for (std::size_t g = 1; g < next.size(); ++g)
        next[g] += next[g - 1];
    groups.rows.resize(next.back());
    for (std::size_t k = 0; k < groupOfRow.size(); ++k) {
        if (const int number = numberOf[groupOfRow[k]]; number >= 0)
            groups.rows[next[static_cast<std::size_t>(number)]++] = static_cast<std::uint32_t>(k);
    }
    // Now next[g] is where group g ends. Each is sorted, and what is kept of
    // it moves down to where the kept rows of the groups before it end.
    std::size_t kept = 0;
    for (std::size_t g = 0, begin = 0; g < groups.starts.size(); begin = next[g], ++g) {
        const auto at = [&groups](std::size_t i) { return groups.rows.begin() + static_cast<std::ptrdiff_t>(i); };
        std::stable_sort(at(begin), at(next[g]), [&table](std::uint32_t a, std::uint32_t b) {
            return table.CreationTime(static_cast<int>(a)) > table.CreationTime(static_cast<int>(b));
        });
        std::size_t end = next[g];
        while (end > begin && !asked[groups.rows[end - 1]])
            --end;
        groups.starts[g] = static_cast<std::uint32_t>(kept);
        for (std::size_t i = begin; i < end; ++i) {
            groups.rows[kept++] = groups.rows[i];
            groups.asked.push_back(asked[groups.rows[i]]);
        }
    }
    groups.rows.resize(kept);
    groups.rows.shrink_to_fit();
    return groups;
}

// Keeps of `pick` (one flag per list row) only the rows whose bytes equal
// those of a later copy of their name and size. Every table row of a group
// with a picked row is compared, the newest first, down to the oldest
// picked one. False when the check was stopped.
bool VerifyPicks(const ResultView& view, Grouping grouping, std::vector<std::uint8_t>& pick, ContentChecker& checker,
                 Progress& progress, AutoSelectOutcome& outcome)
{
    CopyGroups groups = GroupsToCompare(view, grouping.groupOfRow, std::move(grouping.latest), pick);
    if (groups.GroupCount() == 0)
        return true;
    if (!checker.Check(view.table, groups, progress)) {
        outcome.stopped = true;
        return false;
    }
    // Each compared row's entry, in place of its group.
    std::vector<std::uint32_t>& entryOfRow = grouping.groupOfRow;
    for (std::size_t e = 0; e < groups.rows.size(); ++e)
        entryOfRow[groups.rows[e]] = static_cast<std::uint32_t>(e);
    for (std::size_t j = 0; j < pick.size(); ++j) {
        if (!pick[j])
            continue;
        const int k = view.list.TableRow(static_cast<int>(j));
        const std::uint32_t e = entryOfRow[static_cast<std::size_t>(k)];
        if (groups.answers[e] == CopyGroups::kSameAsNewer)
            continue;
        pick[j] = 0;
        if (groups.answers[e] == CopyGroups::kUnreadable) {
            ++outcome.unreadable;
            outcome.unread.push_back({k, groups.errors[e]});
        } else {
            ++outcome.differing;
        }
    }
    return true;
}

}  // namespace

AutoSelectOutcome PickOlderCopies(const ResultView& view, Progress& progress, const AutoSelectOptions& options)
{
    AutoSelectOutcome outcome;
    Grouping grouping = GroupByNameAndSize(view.table);
    std::vector<std::uint8_t> pick = PickByTime(view, grouping, options, outcome);
    if (options.checker && !VerifyPicks(view, std::move(grouping), pick, *options.checker, progress, outcome))
        return outcome;
    grouping = {};

    progress.SetRange(0, view.table.RowCount());
    for (std::size_t j = 0; j < pick.size(); ++j) {
        if (pick[j])
            outcome.picked.push_back(static_cast<int>(j));
        progress.SetPos(static_cast<int>(j));
    }
    progress.SetPos(0);
    return outcome;
}

}  // namespace snapsift
