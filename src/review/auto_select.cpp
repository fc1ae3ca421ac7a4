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

// Keeps of `pick` (one flag per list row) only the rows whose bytes equal
// those of a later copy of their name and size. Every table row of a group
// with a picked row is compared, the newest first, down to the oldest
// picked one. False when the check was stopped.
bool VerifyPicks(const ResultView& view, std::size_t slotCount, const std::vector<std::uint32_t>& slotOfRow,
                 std::vector<std::uint8_t>& pick, ContentChecker& checker, Progress& progress,
                 AutoSelectOutcome& outcome)
{
    const FileTable& table = view.table;
    constexpr std::uint32_t kNone = 0xffffffffu;
    std::vector<std::uint32_t> groupOfSlot;
    std::vector<CopyGroup> groups;
    std::vector<std::uint8_t> asked(slotOfRow.size());
    for (std::size_t j = 0; j < pick.size(); ++j) {
        if (!pick[j])
            continue;
        const auto k = static_cast<std::size_t>(view.list.TableRow(static_cast<int>(j)));
        asked[k] = 1;
        if (groupOfSlot.empty())
            groupOfSlot.assign(slotCount, kNone);
        std::uint32_t& group = groupOfSlot[slotOfRow[k]];
        if (group == kNone) {
            group = static_cast<std::uint32_t>(groups.size());
            groups.emplace_back();
        }
    }
    if (groups.empty())
        return true;
    for (std::size_t k = 0; k < slotOfRow.size(); ++k) {
        const std::uint32_t group = groupOfSlot[slotOfRow[k]];
        if (group != kNone)
            groups[group].rows.push_back(static_cast<int>(k));
    }
    for (CopyGroup& group : groups) {
        std::stable_sort(group.rows.begin(), group.rows.end(),
                         [&table](int a, int b) { return table.CreationTime(a) > table.CreationTime(b); });
        // Rows older than the oldest asked one are never needed.
        while (!group.rows.empty() && !asked[static_cast<std::size_t>(group.rows.back())])
            group.rows.pop_back();
        for (int row : group.rows)
            group.asked.push_back(asked[static_cast<std::size_t>(row)]);
    }
    if (!checker.Check(table, groups, progress)) {
        outcome.stopped = true;
        return false;
    }
    std::vector<std::uint8_t> same(slotOfRow.size());
    std::vector<int> error(slotOfRow.size());
    for (const CopyGroup& group : groups) {
        for (std::size_t i = 0; i < group.rows.size(); ++i) {
            same[static_cast<std::size_t>(group.rows[i])] = group.answers[i];
            error[static_cast<std::size_t>(group.rows[i])] = group.errors[i];
        }
    }
    for (std::size_t j = 0; j < pick.size(); ++j) {
        if (!pick[j])
            continue;
        const int k = view.list.TableRow(static_cast<int>(j));
        const std::uint8_t answer = same[static_cast<std::size_t>(k)];
        if (answer == CopyGroup::kSameAsNewer)
            continue;
        pick[j] = 0;
        if (answer == CopyGroup::kUnreadable) {
            ++outcome.unreadable;
            outcome.unread.push_back({k, error[static_cast<std::size_t>(k)]});
        } else {
            ++outcome.differing;
        }
    }
    return true;
}

}  // namespace

AutoSelectOutcome OnAutoSelect(const ResultView& view, Progress& progress, const AutoSelectOptions& options)
{
    const FileTable& table = view.table;
    AutoSelectOutcome outcome;

    // The latest row of each (name, size) group of the whole table, in an
    // open-addressed table of row numbers: one allocation, however many rows.
    const std::size_t rows = static_cast<std::size_t>(table.RowCount());
    std::size_t capacity = 16;
    while (capacity < rows + rows / 2)
        capacity *= 2;
    const std::size_t mask = capacity - 1;
    struct Slot {
        std::uint32_t hash = 0;
        int latest = -1;  // -1: empty
    };
    std::vector<Slot> slots(capacity);
    std::vector<std::uint32_t> slotOfRow(rows);
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
            __builtin_prefetch(&slots[static_cast<std::size_t>(hashes[k - base]) & mask]);
        }
        for (std::size_t k = base; k < end; ++k) {
            const std::uint64_t h = hashes[k - base];
            const auto tag = static_cast<std::uint32_t>(h >> 32);
            std::size_t i = static_cast<std::size_t>(h) & mask;
            for (;; i = (i + 1) & mask) {
                Slot& slot = slots[i];
                if (slot.latest < 0) {
                    slot.hash = tag;
                    slot.latest = static_cast<int>(k);
                    break;
                }
                const int other = slot.latest;
                const int row = static_cast<int>(k);
                if (slot.hash == tag && table.Size(other) == table.Size(row) && table.Name(other) == table.Name(row)) {
                    if (table.CreationTime(other) < table.CreationTime(row))
                        slot.latest = static_cast<int>(k);
                    break;
                }
            }
            slotOfRow[k] = static_cast<std::uint32_t>(i);
        }
    }
    // Whether each table row has a later copy, found in table order.
    std::vector<std::uint8_t> older(rows);
    for (std::size_t k = 0; k < rows; ++k) {
        const int latest = slots[slotOfRow[k]].latest;
        if (latest == static_cast<int>(k))
            continue;  // the latest of its group, or alone in it
        older[k] = table.CreationTime(static_cast<int>(k)) < table.CreationTime(latest);
    }

    // What the list shows, and of it what name, size and time alone would pick.
    const int n = view.list.GetItemCount();
    std::vector<std::uint8_t> pick(static_cast<std::size_t>(n));
    const bool anyProtected = options.protectedRows && options.protectedRows->size() == rows;
    for (int j = 0; j < n; ++j) {
        const auto k = static_cast<std::size_t>(view.list.TableRow(j));
        if (!older[k])
            continue;
        if (anyProtected && (*options.protectedRows)[k]) {
            ++outcome.protectedRows;
            continue;
        }
        pick[static_cast<std::size_t>(j)] = 1;
    }
    if (options.checker && !VerifyPicks(view, slots.size(), slotOfRow, pick, *options.checker, progress, outcome))
        return outcome;

    progress.SetRange(0, table.RowCount());
    for (int j = 0; j < n; ++j) {
        if (pick[static_cast<std::size_t>(j)])
            outcome.picked.push_back(j);
        progress.SetPos(j);
    }
    progress.SetPos(0);
    return outcome;
}

}  // namespace snapsift
