// SPDX-License-Identifier: MIT
// The search of one folder tree. Its parts, in the order a search meets them:
//
// - type_patterns.*: the options, whether a search may start, and the passes
//   they make (which passes a file name belongs to);
// - collector.*: the walk. The target is opened and listed here; its
//   subfolders, breadth-first, on a pool of threads (parallel_walk.h), whose
//   listings this thread takes back in the order of a walk on one thread and
//   alone decides which folders are new (skipped_folders.h says which are
//   never entered);
// - folder_listing.*: one folder's listing and its files' facts, either one
//   system call at a time or all at once through io_uring (uring_queue.*),
//   which also opens the subfolders ahead of their own listings;
// - open_folders.*: how many folders the walk keeps open at once, and what
//   the workers share;
// - this file: the passes, which only put the listed files in order from
//   memory, type by type, into the file table.
#include "scan/folder_scan.h"

#include "platform/memory.h"
#include "platform/progress.h"
#include "scan/collector.h"
#include "scan/file_table.h"
#include "scan/type_patterns.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <optional>
#include <string_view>
#include <vector>

namespace snapsift {

namespace {

// Makes room in `table` for every listed file of a ticked type, once per
// type it matches: as many rows as the passes add.
void ReserveRows(const std::vector<ScanEntry>& scanList, FileTable& table)
{
    std::size_t listedRows = 0, listedNameBytes = 0;
    for (const ScanEntry& entry : scanList) {
        const char* next = entry.files.names.c_str();
        for (const std::uint32_t tag : entry.files.tags) {
            const std::size_t length = std::char_traits<char>::length(next);
            listedRows += static_cast<std::size_t>(std::popcount(tag));
            listedNameBytes += length * static_cast<std::size_t>(std::popcount(tag));
            next += length + 1;
        }
    }
    table.Reserve(listedRows, listedNameBytes);
}

// The passes, which only put the listed files in order: each type in turn,
// each visiting the target first and then the other folders from the last
// collected to the first. Each folder enters the table's folder list once,
// with its first row. Stopped while listing, the passes still put what was
// listed in order; stopped later, they end where they are: then true.
class Passes final {
public:
    Passes(std::vector<ScanEntry>& scanList, FileTable& table, Progress& progress)
        : scanList_(scanList), table_(table), progress_(progress), tableFolder_(scanList.size(), kNotInTable)
    { }

    bool Run(int ticked, bool stoppedWhileListing, const std::stop_token& stop)
    {
        const long long j = static_cast<long long>(scanList_.size()) - 1;
        bool stopped = stoppedWhileListing;
        for (int pass = 0; pass < ticked && (stoppedWhileListing || !stopped); ++pass) {
            for (long long index = j; index >= 0; --index) {
                if (!stoppedWhileListing && stop.stop_requested()) {
                    stopped = true;
                    break;
                }
                AddRows(static_cast<std::size_t>(index), pass);
                progress_.DeltaPos(1);
            }
        }
        return stopped;
    }

private:
    static constexpr std::uint32_t kNotInTable = UINT32_MAX;
    static constexpr std::size_t kReturnEvery = std::size_t{2} << 20;

    void AddRows(std::size_t index, int pass)
    {
        const std::uint32_t bit = std::uint32_t{1} << pass;
        ScanEntry& entry = scanList_[index];
        if ((entry.types & bit) != 0) {
            const char* next = entry.files.names.c_str();
            for (std::size_t k = 0; k < entry.files.tags.size(); ++k) {
                const std::string_view name(next);  // up to its NUL
                next += name.size() + 1;
                if ((entry.files.tags[k] & bit) == 0)
                    continue;
                if (tableFolder_[index] == kNotInTable)
                    tableFolder_[index] = table_.AddFolder(entry.path);
                table_.AddFoundFile(tableFolder_[index], name, entry.files.facts[k]);
            }
        }
        // A listing no later pass needs gives its memory back now, while the
        // table is still growing: to the system, every few MiB, as the
        // table's room comes from elsewhere.
        if ((std::uint64_t{entry.types} >> (pass + 1)) == 0 && entry.files.names.capacity() > 0) {
            freedBytes_ += entry.files.names.capacity() + entry.files.tags.capacity() +
                           entry.files.facts.capacity() * sizeof(FileFacts);
            entry.files = ListedFiles();
            if (freedBytes_ >= kReturnEvery) {
                ReturnFreeMemory();
                freedBytes_ = 0;
            }
        }
    }

    std::vector<ScanEntry>& scanList_;
    FileTable& table_;
    Progress& progress_;
    std::vector<std::uint32_t> tableFolder_;
    std::size_t freedBytes_ = 0;
};

}  // namespace

ScanOutcome ScanFolder(const std::string& target, const SearchOptions& options, FileTable& table, Progress& progress,
                       const std::stop_token& stop, std::atomic<bool>* walking)
{
    if (const SearchRefusal refusal = CheckSearchOptions(options); refusal != SearchRefusal::None)
        return ScanOutcome{refusal, 0, {}, 0};
    const TypePatterns types = PassesOf(options);
    const int ticked = static_cast<int>(types.passes.size());

    // Every row's path starts with the target's canonical path, so that the
    // path shown, checked, logged and handed to the trash names one file. A
    // target that cannot be resolved safely is searched as an empty one.
    errno = 0;
    const std::optional<std::string> resolved = CanonicalFolderPath(target);
    const int resolveError = errno != 0 ? errno : ENOENT;
    const std::string canonicalTarget = resolved.value_or(std::string());
    Collector collector(canonicalTarget, types, progress, stop, walking);
    std::vector<ScanEntry> scanList = collector.CollectSubfolders();
    const long long j = static_cast<long long>(scanList.size()) - 1;

    table.ClearFileTable();
    ReserveRows(scanList, table);
    progress.SetRange(0, static_cast<int>(std::min<long long>(j * ticked, INT_MAX)));
    const bool stopped = Passes(scanList, table, progress).Run(ticked, collector.Stopped(), stop);
    std::vector<ScanEntry>().swap(scanList);  // the view needs the room more
    ReturnFreeMemory();
    progress.SetPos(0);
    ScanOutcome outcome{SearchRefusal::None, table.RowCount(), canonicalTarget,
                        resolved ? collector.TargetError() : resolveError};
    outcome.stopped = stopped;
    return outcome;
}

}  // namespace snapsift
