#include "platform/progress.h"
#include "review/result_view.h"

#include <climits>
#include <string_view>
#include <unordered_map>

namespace snapsift {
namespace {

struct NameAndSize {
    std::string_view name;
    std::string_view size;
    friend bool operator==(const NameAndSize&, const NameAndSize&) = default;
};

struct NameAndSizeHash {
    std::size_t operator()(const NameAndSize& key) const
    {
        const std::size_t h = std::hash<std::string_view>()(key.name);
        return h ^ (std::hash<std::string_view>()(key.size) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
    }
};

} // namespace

void OnAutoSelect(ResultView& view, Progress& progress)
{
    const FileTable& table = view.table;
    view.list.ClearSelection();
    progress.SetRange(0, table.m_fileCount);

    // The latest date text of each (name, size) group of the whole table. Date
    // texts have fixed-width fields, so byte order is time order.
    std::unordered_map<NameAndSize, std::string_view, NameAndSizeHash> latest;
    latest.reserve(static_cast<std::size_t>(table.m_fileCount));
    for (int k = 0; k < table.m_fileCount; ++k) {
        auto [it, inserted] = latest.try_emplace(NameAndSize{table.m_names[k], table.m_sizes[k]}, table.m_dates[k]);
        if (!inserted && it->second < std::string_view(table.m_dates[k]))
            it->second = table.m_dates[k];
    }

    const int n = view.list.GetItemCount();
    for (int j = 0; j < n; ++j) {
        const int row = view.list.TableRow(j);
        const auto it = latest.find(NameAndSize{table.m_names[row], table.m_sizes[row]});
        if (it != latest.end() && std::string_view(table.m_dates[row]) < it->second)
            view.list.SetSelected(j, true);
        progress.SetPos(j);
    }
    progress.SetPos(0);
}

} // namespace snapsift
