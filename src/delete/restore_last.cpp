// SPDX-License-Identifier: MIT
#include "delete/restore_last.h"

#include "platform/checked_move.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/open_path.h"
#include "platform/progress.h"
#include "platform/trash_folders.h"
#include "platform/trash_info.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace snapsift {
namespace {

constexpr std::string_view kInfoSuffix = ".trashinfo";
constexpr std::size_t kInfoLimit = std::size_t{64} * 1024;  // far more than a real .trashinfo holds

struct TrashEntry {
    std::string folder;            // the trash folder
    std::string name;              // its name in files/ (and name + ".trashinfo" in info/)
    std::int64_t deleted = 0;      // the latest moment its date can name
    std::int64_t infoChanged = 0;  // nanoseconds, to order entries of one second
};

// A local date without a zone, read after the zone has changed, can lie up to
// 14 hours ahead (UTC-12 to UTC+14 and back), and clocks differ a little.
constexpr std::int64_t kFutureGrace = 14 * 3600 + 60;

// What the trash holds for one logged path.
struct Candidates {
    std::optional<TrashEntry> fitting;    // deleted at or after the start
    int fits = 0;                         // how many entries do
    std::optional<TrashEntry> malformed;  // an entry of this path whose date cannot be read
};

bool ReadSmallFile(int dirFd, const std::string& name, std::string& text, struct stat& st)
{
    const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
              static_cast<std::size_t>(st.st_size) <= kInfoLimit;
    if (ok) {
        text.resize(static_cast<std::size_t>(st.st_size));
        ok = pread(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
    }
    close(fd);
    return ok;
}

// The original paths an entry's Path= can stand for: itself when absolute,
// else one per top of the trash folder.
std::vector<std::string> OriginalPaths(const std::string& path, const TrashFolder& trash)
{
    if (path[0] == '/')
        return {path};
    std::vector<std::string> out;
    for (const std::string& top : trash.tops)
        out.push_back(JoinPath(top, path));
    return out;
}

bool Later(const TrashEntry& a, const TrashEntry& b)
{
    return a.deleted != b.deleted ? a.deleted > b.deleted : a.infoChanged > b.infoChanged;
}

// Looks through the info/ folder of one trash for entries of the wanted paths.
void CollectEntries(const TrashFolder& trash, std::int64_t startTime, std::int64_t now,
                    std::unordered_map<std::string, Candidates>& wanted)
{
    const uid_t uid = getuid();
    const FolderHandle info = OpenFolder(JoinPath(trash.path, "info"), false);
    if (!info.IsOpen())
        return;
    std::vector<ListedEntry> listed;
    ListFolder(info, listed);
    if (listed.empty())
        return;
    const FolderHandle files = OpenFolder(JoinPath(trash.path, "files"), false);
    if (!files.IsOpen())
        return;
    for (const ListedEntry& e : listed) {
        if (e.kind != EntryKind::RegularFile || e.name.size() <= kInfoSuffix.size() ||
            e.name.compare(e.name.size() - kInfoSuffix.size(), kInfoSuffix.size(), kInfoSuffix) != 0)
            continue;
        TrashEntry entry;
        entry.folder = trash.path;
        entry.name = e.name.substr(0, e.name.size() - kInfoSuffix.size());
        struct stat infoStat { };
        struct stat fileStat { };
        std::string text;
        if (!ReadSmallFile(info.Fd(), e.name, text, infoStat) ||
            fstatat(files.Fd(), entry.name.c_str(), &fileStat, AT_SYMLINK_NOFOLLOW) != 0)
            continue;  // nothing to put back, or an info that cannot be read
        if (infoStat.st_uid != uid || fileStat.st_uid != uid)
            continue;  // planted by someone else
        const std::optional<TrashInfo> said = ReadTrashInfo(text);
        if (!said)
            continue;
        const std::optional<LocalReadings>& deleted = said->deleted;
        entry.infoChanged = Nanoseconds(TimeOf(infoStat.st_mtim));
        if (deleted && deleted->earliest > now + kFutureGrace)
            continue;  // dated in the future: no deletion of ours
        for (const std::string& original : OriginalPaths(said->path, trash)) {
            const auto it = wanted.find(original);
            if (it == wanted.end())
                continue;
            Candidates& c = it->second;
            if (!deleted) {
                if (!c.malformed)
                    c.malformed = entry;
            } else if (deleted->latest >= startTime) {
                entry.deleted = deleted->latest;
                ++c.fits;
                if (!c.fitting || Later(entry, *c.fitting))
                    c.fitting = entry;
            }
        }
    }
}

// Opens the folder that holds `path`, from "/" one step at a time, never
// through a link, making the folders that are missing on the way.
FolderHandle OpenParentMaking(const std::string& path, RestoreResult& result)
{
    const std::size_t last = path.rfind('/');
    PathStop stop;
    FolderHandle folder =
        OpenPathWithoutLinks(last == 0 ? std::string("/") : path.substr(0, last), {.makeMissing = true}, &stop);
    if (folder.IsOpen())
        return folder;
    const std::string where = path.substr(0, stop.end);
    switch (stop.kind) {
    case PathStop::Kind::Link:
        result.status = RestoreStatus::LinkInPath;
        result.error = where;
        break;
    case PathStop::Kind::NotFolder:
        result.status = RestoreStatus::FileInPath;
        result.error = where;
        break;
    case PathStop::Kind::None:
    case PathStop::Kind::Failed:
        result.status = RestoreStatus::Failed;
        result.failedAt = where;
        result.errorNumber = stop.error;
        result.error = where + ": " + std::strerror(stop.error);
        break;
    }
    return {};
}

// Puts the trash entry back at `path`. With `expected`, only while the entry
// is still that file.
RestoreResult RestoreEntry(const std::string& path, const TrashEntryPlace& place, const FileFacts* expected)
{
    RestoreResult result;
    result.path = path;
    result.trashEntry = place.FilePath();
    const FolderHandle files = OpenFolder(JoinPath(place.folder, "files"), false);
    const FolderHandle info = OpenFolder(JoinPath(place.folder, "info"), false);
    struct stat st { };
    if (!files.IsOpen() || !info.IsOpen() || fstatat(files.Fd(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        result.status = RestoreStatus::NotFound;
        return result;
    }
    const std::string infoName = place.name + std::string(kInfoSuffix);
    struct stat infoStat { };
    if (fstatat(info.Fd(), infoName.c_str(), &infoStat, AT_SYMLINK_NOFOLLOW) != 0) {
        result.status = RestoreStatus::NotFound;
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.status = RestoreStatus::NotRegularFile;
        return result;
    }
    const auto before = StatRegularFile(files.Fd(), place.name.c_str());
    if (!before || st.st_uid != getuid() || infoStat.st_uid != getuid() || !S_ISREG(infoStat.st_mode) ||
        (expected && !SameFileAfterMove(*expected, *before))) {
        result.status = RestoreStatus::EntryChanged;
        return result;
    }
    const FolderHandle parent = OpenParentMaking(path, result);
    if (!parent.IsOpen())
        return result;
    const std::string base = path.substr(path.rfind('/') + 1);
    // What comes back must be what was looked at; else it returns to the trash.
    const MoveResult moved = MoveAndProve(files.Fd(), place.name, parent.Fd(), base, *before);
    switch (moved.status) {
    case MoveStatus::Moved:
        result.status = RestoreStatus::Restored;
        break;
    case MoveStatus::Occupied:
        result.status = RestoreStatus::Occupied;
        return result;
    case MoveStatus::NotTheFile:
    case MoveStatus::NotTheFileStuck:
        result.status = RestoreStatus::EntryChanged;
        return result;
    case MoveStatus::Failed:
        result.status = RestoreStatus::Failed;
        result.error = std::strerror(moved.error);
        result.failedAt = path;
        result.errorNumber = moved.error;
        return result;
    }
    unlinkat(info.Fd(), infoName.c_str(), 0);
    return result;
}

RestoreResult RestoreOne(const std::string& path, const Candidates& found)
{
    if (!found.fitting || found.fits > 1) {
        // Two entries that fit the block's time cannot be told apart: another
        // program's file is never put back in this deletion's name.
        RestoreResult result;
        result.path = path;
        result.status = found.fitting     ? RestoreStatus::Ambiguous
                        : found.malformed ? RestoreStatus::BadTrashInfo
                                          : RestoreStatus::NotFound;
        if (!found.fitting && found.malformed)
            result.trashEntry = JoinPath(JoinPath(found.malformed->folder, "files"), found.malformed->name);
        return result;
    }
    return RestoreEntry(path, TrashEntryPlace{found.fitting->folder, found.fitting->name}, nullptr);
}

}  // namespace

std::vector<RestoreResult> RestoreDeletion(const LoggedDeletion& deletion, Progress& progress)
{
    std::unordered_map<std::string, Candidates> wanted;
    for (const std::string& path : deletion.paths)
        wanted.try_emplace(path);
    const std::int64_t now = CurrentTime();
    for (const TrashFolder& trash : ListTrashFolders())
        CollectEntries(trash, deletion.startTime, now, wanted);

    progress.SetRange(0, static_cast<int>(deletion.paths.size()));
    std::vector<RestoreResult> results;
    std::unordered_map<std::string, std::size_t> done;  // a path logged twice is one file
    for (const std::string& path : deletion.paths) {
        const auto [it, fresh] = done.try_emplace(path, results.size());
        results.push_back(fresh ? RestoreOne(path, wanted[path]) : results[it->second]);
        progress.DeltaPos(1);
    }
    progress.SetPos(0);
    return results;
}

std::vector<RestoreResult> RestoreTrashed(const std::vector<TrashedFile>& files, Progress& progress)
{
    progress.SetRange(0, static_cast<int>(files.size()));
    std::vector<RestoreResult> results;
    for (const TrashedFile& file : files) {
        results.push_back(RestoreEntry(file.path, file.entry, &file.facts));
        progress.DeltaPos(1);
    }
    progress.SetPos(0);
    return results;
}

LogReadOutcome ReadLastLoggedDeletion(const std::string& logPath, LastLoggedDeletion& last)
{
    const LogReadOutcome read = ReadLastDeletion(logPath, last.block);
    if (read == LogReadOutcome::Read)
        last.record = RecordOfBlock(RecordsFolder(), logPath, last.block);
    return read;
}

std::vector<RestoreResult> RestoreLastLogged(const LastLoggedDeletion& last, Progress& progress)
{
    return last.record ? RestoreTrashed(last.record->files, progress) : RestoreDeletion(last.block, progress);
}

}  // namespace snapsift
