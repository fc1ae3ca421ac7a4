#include "platform/progress.h"
#include "review/result_view.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

namespace snapsift {
namespace {

std::uint64_t GroupHash(std::string_view name, std::string_view size)
{
    // FNV-1a over the name, a separator byte no text holds, and the size text.
    std::uint64_t h = 14695981039346656037ULL;
    auto add = [&h](unsigned char c) { h = (h ^ c) * 1099511628211ULL; };
    for (const char c : name)
        add(static_cast<unsigned char>(c));
    add(0);
    for (const char c : size)
        add(static_cast<unsigned char>(c));
    return h;
}

// Date texts in time order. Every field has a fixed width but the year, which
// has as many digits as it needs (and a minus sign before year 0): within
// 1000 to 9999 this is plain byte order. An empty text (a time the C library
// cannot break down) comes first, as in byte order.
bool EarlierDate(std::string_view a, std::string_view b)
{
    if (a.empty() || b.empty())
        return a.empty() && !b.empty();
    const bool aNegative = a[0] == '-';
    const bool bNegative = b[0] == '-';
    if (aNegative != bNegative)
        return aNegative;
    auto yearEnd = [](std::string_view text) {
        std::size_t i = text[0] == '-' ? 1 : 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        return i;
    };
    const std::size_t aEnd = yearEnd(a);
    const std::size_t bEnd = yearEnd(b);
    if (aEnd != bEnd)
        return aNegative ? aEnd > bEnd : aEnd < bEnd;
    const int years = a.substr(0, aEnd).compare(b.substr(0, bEnd));
    if (years != 0)
        return aNegative ? years > 0 : years < 0;
    return a.substr(aEnd) < b.substr(bEnd);
}

} // namespace

void OnAutoSelect(ResultView& view, Progress& progress)
{
    const FileTable& table = view.table;
    view.list.ClearSelection();
    progress.SetRange(0, table.m_fileCount);

    // The latest row of each (name, size) group of the whole table, in an
    // open-addressed table of row numbers: one allocation, however many rows.
    const std::size_t rows = static_cast<std::size_t>(std::max(table.m_fileCount, 0));
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
            __builtin_prefetch(table.m_names[k].data());
        for (std::size_t k = base; k < end; ++k) {
            hashes[k - base] = GroupHash(table.m_names[k], table.m_sizes[k]);
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
                const auto other = static_cast<std::size_t>(slot.latest);
                if (slot.hash == tag && table.m_names[other] == table.m_names[k] &&
                    table.m_sizes[other] == table.m_sizes[k]) {
                    if (EarlierDate(table.m_dates[other], table.m_dates[k]))
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
        if (k + kBatch < rows)
            __builtin_prefetch(table.m_dates[k + kBatch].data());
        if (slots[slotOfRow[k]].latest == static_cast<int>(k))
            continue;  // the latest of its group, or alone in it
        older[k] = EarlierDate(table.m_dates[k], table.m_dates[static_cast<std::size_t>(slots[slotOfRow[k]].latest)]);
    }

    const int n = view.list.GetItemCount();
    for (int j = 0; j < n; ++j) {
        if (older[static_cast<std::size_t>(view.list.TableRow(j))])
            view.list.SetSelected(j, true);
        progress.SetPos(j);
    }
    progress.SetPos(0);
}

} // namespace snapsift
