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
//   memory, type by type, into the file table, in one sweep.
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

// The passes, which only put the listed files in order: each type in turn,
// each visiting the target first and then the other folders from the last
// collected to the first. Each folder enters the table's folder list once,
// with its first row. Stopped while listing, the passes still put what was
// listed in order; stopped later, they end where they are: then true.
//
// The table is filled in one sweep over the folders, in the order each pass
// visits them, which puts every row a folder gives any pass straight into
// its place and then lets that folder's listing go: the listings shrink
// while the table grows. As every pass visits the folders in the sweep's
// order, each pass's next place is one cursor, starting where the rows of
// the passes before it end. A stop is looked at between folders; the table
// then keeps the rows the passes would have put before the first row of a
// folder not yet swept.
class Passes final {
public:
    Passes(std::vector<ScanEntry>& scanList, FileTable& table, Progress& progress, int ticked)
        : scanList_(scanList)
        , table_(table)
        , progress_(progress)
        , ticked_(ticked)
        , passMask_(ticked >= 32 ? UINT32_MAX : (std::uint32_t{1} << ticked) - 1)
        , cursors_(static_cast<std::size_t>(ticked))
        , tableFolder_(scanList.size(), kNotInTable)
    { }

    // Counts the rows, adds the folders and sizes the table for the rows.
    void Size()
    {
        CountRows();
        AddFolders();
    }

    bool Run(bool stoppedWhileListing, const std::stop_token& stop)
    {
        std::size_t index = scanList_.size();
        while (index > 0) {
            if (!stoppedWhileListing && stop.stop_requested()) {
                KeepSweptRows(index);
                return true;
            }
            --index;
            PlaceRows(index);
            for (int pass = 0; pass < ticked_; ++pass)
                progress_.DeltaPos(1);
        }
        return stoppedWhileListing;
    }

private:
    static constexpr std::uint32_t kNotInTable = UINT32_MAX;
    static constexpr std::size_t kReturnEvery = std::size_t{2} << 20;

    // Where a pass puts its next row and that row's name.
    struct Cursor {
        std::size_t row = 0;
        std::size_t nameOffset = 0;
    };

    std::uint32_t TypesOf(std::size_t index) const { return scanList_[index].types & passMask_; }
    static int PassOf(std::uint32_t bit) { return std::countr_zero(bit); }

    // Each pass's rows and their names' bytes, then where each pass starts.
    void CountRows()
    {
        std::vector<Cursor> counts(cursors_.size());
        for (const ScanEntry& entry : scanList_) {
            const char* next = entry.files.names.c_str();
            for (const std::uint32_t tag : entry.files.tags) {
                const std::size_t length = std::char_traits<char>::length(next);
                next += length + 1;
                for (std::uint32_t bits = tag & passMask_; bits != 0; bits &= bits - 1) {
                    Cursor& count = counts[static_cast<std::size_t>(PassOf(bits))];
                    ++count.row;
                    count.nameOffset += length;
                }
            }
        }
        Cursor start;
        for (std::size_t pass = 0; pass < counts.size(); ++pass) {
            cursors_[pass] = start;
            start.row += counts[pass].row;
            start.nameOffset += counts[pass].nameOffset;
        }
        table_.SizeRows(start.row, start.nameOffset);
    }

    // Adds the folders to the table in the order their first rows come:
    // copies made now, before any listing goes. Made while the sweep frees
    // them, they would land among the listings' small blocks and keep their
    // pages from going back.
    void AddFolders()
    {
        for (int pass = 0; pass < ticked_; ++pass) {
            const std::uint32_t bit = std::uint32_t{1} << pass;
            for (std::size_t index = scanList_.size(); index-- > 0;) {
                if ((TypesOf(index) & bit) != 0 && tableFolder_[index] == kNotInTable)
                    tableFolder_[index] = table_.AddFolder(scanList_[index].path);
            }
        }
    }

    // Puts every row of folder `index`, of every pass, in its place, and
    // lets its listing go.
    void PlaceRows(std::size_t index)
    {
        ScanEntry& entry = scanList_[index];
        const char* next = entry.files.names.c_str();
        for (std::size_t k = 0; k < entry.files.tags.size(); ++k) {
            const std::string_view name(next);  // up to its NUL
            next += name.size() + 1;
            for (std::uint32_t bits = entry.files.tags[k] & passMask_; bits != 0; bits &= bits - 1) {
                Cursor& cursor = cursors_[static_cast<std::size_t>(PassOf(bits))];
                const ListedFiles::Facts& facts = entry.files.facts[k];
                table_.PlaceRow(cursor.row++, tableFolder_[index], cursor.nameOffset, name,
                                FileFacts{facts.size, facts.creationTime, facts.identity});
                cursor.nameOffset += name.size();
            }
        }
        // To the system, every few MiB, as the table's room comes from
        // elsewhere.
        freedBytes_ += entry.files.names.capacity() + entry.files.tags.capacity() * sizeof(std::uint32_t) +
                       entry.files.facts.capacity() * sizeof(ListedFiles::Facts) + entry.path.capacity();
        entry.files = ListedFiles();
        std::string().swap(entry.path);
        if (freedBytes_ >= kReturnEvery) {
            ReturnFreeMemory();
            freedBytes_ = 0;
        }
    }

    // Stopped with the folders from `swept` on placed: keeps the rows before
    // the first row, in row order, of a folder not placed yet. That is the
    // folder's first row, and its pass's cursor points at it.
    void KeepSweptRows(std::size_t swept)
    {
        for (int pass = 0; pass < ticked_; ++pass) {
            const std::uint32_t bit = std::uint32_t{1} << pass;
            for (std::size_t index = swept; index-- > 0;) {
                if ((TypesOf(index) & bit) != 0) {
                    const Cursor& cursor = cursors_[static_cast<std::size_t>(pass)];
                    table_.KeepFirstRows(cursor.row, cursor.nameOffset, tableFolder_[index]);
                    return;
                }
            }
        }
    }

    std::vector<ScanEntry>& scanList_;
    FileTable& table_;
    Progress& progress_;
    const int ticked_;
    const std::uint32_t passMask_;
    std::vector<Cursor> cursors_;  // one per pass
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
    Passes passes(scanList, table, progress, ticked);
    passes.Size();
    progress.SetRange(0, static_cast<int>(std::min<long long>(j * ticked, INT_MAX)));
    const bool stopped = passes.Run(collector.Stopped(), stop);
    std::vector<ScanEntry>().swap(scanList);  // the view needs the room more
    ReturnFreeMemory();
    progress.SetPos(0);
    ScanOutcome outcome{SearchRefusal::None, table.RowCount(), canonicalTarget,
                        resolved ? collector.TargetError() : resolveError};
    outcome.stopped = stopped;
    return outcome;
}

}  // namespace snapsift
