// SPDX-License-Identifier: MIT
// Looking across the records: which there are, where each recorded file is
// now, and which record belongs to a log's last block.
#include "delete/deletion_log_reader.h"
#include "delete/deletion_record.h"
#include "platform/file_system.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <utility>

namespace snapsift {
namespace {

constexpr std::string_view kJournalSuffix = ".journal";
constexpr std::string_view kRecordSuffix = ".record";

}  // namespace

std::vector<std::string> ListRecordIds(const std::string& folder)
{
    std::vector<std::string> ids;
    const FolderHandle dir = OpenFolder(folder, false);
    std::vector<ListedEntry> listed;
    if (!dir.IsOpen() || !ListFolder(dir, listed))
        return ids;
    for (const ListedEntry& e : listed) {
        for (const std::string_view suffix : {kRecordSuffix, kJournalSuffix}) {
            if (e.kind == EntryKind::RegularFile && e.name.size() > suffix.size() &&
                e.name.compare(e.name.size() - suffix.size(), suffix.size(), suffix) == 0)
                ids.push_back(e.name.substr(0, e.name.size() - suffix.size()));
        }
    }
    // In the order they were made: by time, then by the number a record
    // made in the same second as another takes ("…Z", "…Z-2", …, "…Z-10").
    const auto order = [](const std::string& id) -> std::pair<std::string, std::uint64_t> {
        const std::size_t dash = id.rfind('-');
        if (dash != std::string::npos && dash + 1 < id.size() &&
            id.find_first_not_of("0123456789", dash + 1) == std::string::npos && id.size() - dash - 1 <= 9)
            return {id.substr(0, dash), std::stoull(id.substr(dash + 1))};
        return {id, 1};
    };
    std::sort(ids.begin(), ids.end(), [&order](const std::string& a, const std::string& b) {
        return order(a) < order(b) || (order(a) == order(b) && a < b);
    });
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

TrashedState StateOf(const TrashedFile& file)
{
    const auto same = [&file](const std::optional<FileFacts>& now) {
        return now && now->identity == file.facts.identity && now->size == file.facts.size;
    };
    struct stat info { };
    if (same(StatRegularFile(file.entry.FilePath())) && lstat(file.entry.InfoPath().c_str(), &info) == 0)
        return TrashedState::InTrash;
    return same(StatRegularFile(file.path)) ? TrashedState::Restored : TrashedState::Gone;
}

std::size_t RecordedDeletion::InTrash() const
{
    return static_cast<std::size_t>(std::count(states.begin(), states.end(), TrashedState::InTrash));
}

std::vector<RecordedDeletion> LoadHistory(const std::string& folder)
{
    std::vector<RecordedDeletion> history;
    for (const std::string& id : ListRecordIds(folder)) {
        auto record = LoadRecord(folder, id);
        if (!record)
            continue;
        RecordedDeletion deletion{std::move(*record), {}};
        for (const TrashedFile& file : deletion.record.files)
            deletion.states.push_back(StateOf(file));
        history.push_back(std::move(deletion));
    }
    return history;
}

std::optional<DeletionRecord> RecordOfBlock(const std::string& folder, const std::string& logPath,
                                            const LoggedDeletion& block)
{
    struct stat log { };
    if (lstat(logPath.c_str(), &log) != 0)
        return std::nullopt;
    const std::vector<std::string> ids = ListRecordIds(folder);
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
        // The heading alone first: most records are of other blocks.
        const auto header = LoadRecordHeading(folder, *it);
        if (!header || !header->logged || header->startText != block.startText ||
            header->log.device != DeviceNumber(log.st_dev) ||
            header->log.inode != static_cast<std::uint64_t>(log.st_ino))
            continue;
        auto record = LoadRecord(folder, *it);
        if (!record || record->files.size() != block.paths.size())
            continue;
        bool same = true;
        for (std::size_t i = 0; same && i < block.paths.size(); ++i)
            same = record->files[i].path == block.paths[i];
        if (same)
            return record;
    }
    return std::nullopt;
}

}  // namespace snapsift
