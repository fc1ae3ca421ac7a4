// SPDX-License-Identifier: MIT
// The record's key file: writing it as a journal and then whole, and reading
// it back. Paths are kept as the .trashinfo keeps them (every byte that is
// not printable ASCII as %XX), so that any bytes survive a UTF-8 key file.
#include "delete/deletion_record.h"

#include "delete/deletion_log.h"
#include "delete/deletion_log_reader.h"
#include "delete/record_keys.h"
#include "platform/file_system.h"
#include "platform/local_time.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace snapsift {
namespace {

constexpr std::string_view kJournalSuffix = ".journal";
constexpr std::string_view kRecordSuffix = ".record";

std::string FileGroup(std::size_t n)
{
    return "File " + std::to_string(n);
}

std::string MovedGroup(std::size_t n)
{
    return "Moved " + std::to_string(n);
}

void SetHeader(KeyFile& keys, const LogIdentity& log, std::int64_t startTime, const std::string& startText)
{
    const char* group = kDeletionGroup;
    keys.SetInt("Version", 1, group);
    keys.SetPath("Log", log.path, group);
    keys.SetUint("LogDevice", log.device, group);
    keys.SetUint("LogInode", log.inode, group);
    keys.SetInt("StartTime", startTime, group);
    keys.Set("StartUTC", FormatUtcTime(startTime), group);
    keys.Set("StartLocal", FormatLocalTime(startTime, "%Y-%m-%dT%H:%M:%S%z"), group);
    keys.Set("StartText", startText, group);
}

void SetEntry(KeyFile& keys, const std::string& group, const TrashedFile& file)
{
    keys.SetPath("TrashFolder", file.entry.folder, group.c_str());
    keys.SetPath("Entry", file.entry.name, group.c_str());
    keys.SetUint("Device", file.facts.identity.device, group.c_str());
    keys.SetUint("Inode", file.facts.identity.inode, group.c_str());
    keys.SetUint("Size", file.facts.size, group.c_str());
    keys.SetInt("CreationTime", file.facts.creationTime, group.c_str());
    if (file.birthTime != 0)
        keys.SetInt("BirthTime", file.birthTime, group.c_str());
    keys.SetInt("ModificationTime", file.modificationTime, group.c_str());
    keys.SetInt("DeletionTime", file.deletionTime, group.c_str());
    keys.Set("DeletionUTC", FormatUtcTime(file.deletionTime), group.c_str());
}

bool FlushFolder(const FolderHandle& folder)
{
    return fsync(folder.Fd()) == 0;
}

// Writes `text` to a new file `name` in `folder` and flushes it.
bool WriteNewFile(const FolderHandle& folder, const std::string& name, const std::string& text)
{
    unlinkat(folder.Fd(), name.c_str(), 0);  // a temporary file a crash left
    const int fd = openat(folder.Fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    const bool ok = WriteAll(fd, text) && fsync(fd) == 0;
    const int error = errno;
    close(fd);
    errno = error;
    return ok;
}

// The file a journal names without a note of its move: looked for by its
// identity in every trash its file system can have, the home trash and
// .Trash-UID or .Trash/UID in each folder above it (a mount's top, or a
// btrfs subvolume's).
using TrashListings = std::unordered_map<std::string, std::vector<ListedEntry>>;  // files/ of each trash, once

std::optional<TrashedFile> FindByIdentity(const std::string& path, const FileFacts& facts, TrashListings& listings)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::nullopt;
    const std::string base = path.substr(slash + 1);
    const std::size_t dot = base.find('.');
    const std::string stem = dot == std::string::npos ? base : base.substr(0, dot);
    const std::string rest = dot == std::string::npos ? std::string() : base.substr(dot);
    const std::string uid = std::to_string(getuid());
    std::vector<std::string> trashes{UserTrashFolderPath()};
    for (std::size_t end = slash; end != std::string::npos;) {
        const std::string folder = end == 0 ? std::string("/") : path.substr(0, end);
        trashes.push_back(JoinPath(folder, ".Trash-" + uid));
        trashes.push_back(JoinPath(JoinPath(folder, ".Trash"), uid));
        end = end == 0 ? std::string::npos : path.rfind('/', end - 1);
    }
    for (const std::string& trash : trashes) {
        const FolderHandle files = OpenFolder(JoinPath(trash, "files"), false);
        if (!files.IsOpen())
            continue;
        const auto [at, fresh] = listings.try_emplace(trash);
        if (fresh)
            ListFolder(files, at->second);
        for (const ListedEntry& e : at->second) {
            // Entry names of this file's name: "p.jpg", "p.2.jpg", …
            const bool ofName = e.name == base || (e.name.size() > stem.size() + rest.size() &&
                                                   e.name.compare(0, stem.size() + 1, stem + ".") == 0 &&
                                                   e.name.compare(e.name.size() - rest.size(), rest.size(), rest) == 0);
            if (e.kind != EntryKind::RegularFile || !ofName)
                continue;
            const auto now = StatRegularFile(files.Fd(), e.name.c_str());
            if (now && now->identity == facts.identity && now->size == facts.size) {
                auto found = RecordedFacts(JoinPath(JoinPath(trash, "files"), e.name));
                if (found)
                    found->entry = TrashEntryPlace{trash, e.name};
                return found;
            }
        }
    }
    return std::nullopt;
}

std::optional<TrashedFile> ReadEntry(const KeyFile& keys, const std::string& group, const std::string& path)
{
    TrashedFile file;
    file.path = path;
    const auto folder = keys.GetPath("TrashFolder", group.c_str());
    const auto name = keys.GetPath("Entry", group.c_str());
    if (!folder || !name || folder->empty() || (*folder)[0] != '/' || !IsPlainName(*name))
        return std::nullopt;
    file.entry = TrashEntryPlace{*folder, *name};
    file.facts.identity.device = keys.GetUint("Device", group.c_str());
    file.facts.identity.inode = keys.GetUint("Inode", group.c_str());
    file.facts.size = keys.GetUint("Size", group.c_str());
    file.facts.creationTime = keys.GetInt("CreationTime", group.c_str());
    file.birthTime = keys.GetInt("BirthTime", group.c_str());
    file.modificationTime = keys.GetInt("ModificationTime", group.c_str());
    file.deletionTime = keys.GetInt("DeletionTime", group.c_str());
    return file;
}

// The files of a loaded record or journal, in order.
std::vector<TrashedFile> ReadFiles(const KeyFile& keys, bool journal)
{
    std::vector<TrashedFile> files;
    TrashListings listings;
    for (std::size_t n = 1;; ++n) {
        const std::string group = FileGroup(n);
        const auto path = keys.GetPath("Path", group.c_str());
        if (!path)
            break;
        if (path->empty() || (*path)[0] != '/')
            continue;
        if (!journal) {
            if (auto file = ReadEntry(keys, group, *path))
                files.push_back(std::move(*file));
            continue;
        }
        if (auto moved = ReadEntry(keys, MovedGroup(n), *path)) {
            files.push_back(std::move(*moved));
            continue;
        }
        FileFacts facts;
        facts.identity.device = keys.GetUint("Device", group.c_str());
        facts.identity.inode = keys.GetUint("Inode", group.c_str());
        facts.size = keys.GetUint("Size", group.c_str());
        if (auto found = FindByIdentity(*path, facts, listings)) {
            found->path = *path;
            files.push_back(std::move(*found));
        }
    }
    return files;
}

bool ReadHeader(const KeyFile& keys, DeletionRecord& record)
{
    const auto log = keys.GetPath("Log", kDeletionGroup);
    const auto text = keys.GetValue("StartText", kDeletionGroup);
    if (!log || !text)
        return false;
    record.log.path = *log;
    record.log.device = keys.GetUint("LogDevice", kDeletionGroup);
    record.log.inode = keys.GetUint("LogInode", kDeletionGroup);
    record.startTime = keys.GetInt("StartTime", kDeletionGroup);
    record.startText = *text;
    record.logged = keys.GetValue("Logged", kDeletionGroup).value_or("true") == "true";
    return true;
}

}  // namespace

std::string RecordsFolder()
{
    const std::string state = StateFolder();
    return state.empty() ? std::string() : state + "/records";
}

DeletionRecordWriter::~DeletionRecordWriter()
{
    if (journal_ >= 0)
        close(journal_);
}

bool DeletionRecordWriter::Begin(const std::string& folder, const LogIdentity& log, std::int64_t startTime,
                                 const std::vector<ConfirmedFile>& files)
{
    const auto fail = [this, &folder](const std::string& where) {
        error_ = where + ": " + std::strerror(errno != 0 ? errno : EIO);
        (void)folder;
        return false;
    };
    errno = 0;
    if (folder.empty() || g_mkdir_with_parents(folder.c_str(), 0700) != 0)
        return fail(folder.empty() ? std::string("~/.local/state/snapsift/records") : folder);
    folder_ = OpenFolder(folder, false);
    struct stat st { };
    if (!folder_.IsOpen() || fstat(folder_.Fd(), &st) != 0)
        return fail(folder);
    if (st.st_uid != getuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        errno = EACCES;
        return fail(folder);
    }
    startTime_ = startTime;
    startText_ = DeletionLogTimeText(startTime);
    const std::string base = FormatUtcTime(startTime, "%Y%m%dT%H%M%SZ");
    for (int n = 1; journal_ < 0; ++n) {
        id_ = n == 1 ? base : base + "-" + std::to_string(n);
        if (faccessat(folder_.Fd(), (id_ + std::string(kRecordSuffix)).c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0)
            continue;
        const std::string name = id_ + std::string(kJournalSuffix);
        journal_ =
            openat(folder_.Fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (journal_ < 0 && (errno != EEXIST || n >= 10000))
            return fail(JoinPath(folder, name));
    }
    KeyFile keys;
    SetHeader(keys, log, startTime_, startText_);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string group = FileGroup(i + 1);
        keys.SetPath("Path", files[i].path, group.c_str());
        keys.SetUint("Device", files[i].facts.identity.device, group.c_str());
        keys.SetUint("Inode", files[i].facts.identity.inode, group.c_str());
        keys.SetUint("Size", files[i].facts.size, group.c_str());
        keys.SetInt("CreationTime", files[i].facts.creationTime, group.c_str());
    }
    // Nothing may move before the journal that finds it again is on disk.
    if (!WriteAll(journal_, keys.Text()) || fsync(journal_) != 0 || !FlushFolder(folder_)) {
        const bool ok = fail(JoinPath(folder, id_ + std::string(kJournalSuffix)));
        Abandon();
        return ok;
    }
    return true;
}

void DeletionRecordWriter::Moved(std::size_t index, const TrashedFile& file)
{
    if (journal_ < 0)
        return;
    KeyFile keys;
    SetEntry(keys, MovedGroup(index + 1), file);
    WriteAll(journal_, keys.Text());
}

bool DeletionRecordWriter::Finish(const LogIdentity& log, bool logged, const std::vector<TrashedFile>& moved)
{
    if (journal_ < 0)
        return false;
    KeyFile keys;
    SetHeader(keys, log, startTime_, startText_);
    keys.Set("Logged", logged ? "true" : "false", kDeletionGroup);
    keys.SetUint("Files", moved.size(), kDeletionGroup);
    for (std::size_t i = 0; i < moved.size(); ++i) {
        const std::string group = FileGroup(i + 1);
        keys.SetPath("Path", moved[i].path, group.c_str());
        SetEntry(keys, group, moved[i]);
    }
    const std::string temporary = id_ + std::string(kRecordSuffix) + ".new";
    const std::string name = id_ + std::string(kRecordSuffix);
    if (!WriteNewFile(folder_, temporary, keys.Text()) ||
        renameat(folder_.Fd(), temporary.c_str(), folder_.Fd(), name.c_str()) != 0 || !FlushFolder(folder_)) {
        error_ = name + ": " + std::strerror(errno != 0 ? errno : EIO);
        unlinkat(folder_.Fd(), temporary.c_str(), 0);
        return false;
    }
    close(journal_);
    journal_ = -1;
    unlinkat(folder_.Fd(), (id_ + std::string(kJournalSuffix)).c_str(), 0);
    FlushFolder(folder_);
    return true;
}

void DeletionRecordWriter::Abandon()
{
    if (journal_ < 0)
        return;
    close(journal_);
    journal_ = -1;
    unlinkat(folder_.Fd(), (id_ + std::string(kJournalSuffix)).c_str(), 0);
    FlushFolder(folder_);
}

std::optional<TrashedFile> RecordedFacts(const std::string& path)
{
    const auto facts = StatRegularFile(path);
    const auto times = StatTimes(path);
    if (!facts || !times)
        return std::nullopt;
    TrashedFile file;
    file.facts = *facts;
    file.birthTime = times->birth;
    file.modificationTime = times->modification;
    return file;
}

std::optional<DeletionRecord> LoadRecord(const std::string& folder, const std::string& id)
{
    if (!IsPlainName(id))
        return std::nullopt;
    const FolderHandle dir = OpenFolder(folder, false);
    if (!dir.IsOpen())
        return std::nullopt;
    for (const std::string_view suffix : {kRecordSuffix, kJournalSuffix}) {
        const bool journal = suffix == kJournalSuffix;
        KeyFile keys;
        if (!keys.LoadOwnFile(dir, id + std::string(suffix), journal))
            continue;
        DeletionRecord record;
        record.id = id;
        record.complete = !journal;
        if (!ReadHeader(keys, record))
            return std::nullopt;
        record.files = ReadFiles(keys, journal);
        return record;
    }
    return std::nullopt;
}

std::optional<DeletionRecord> LoadRecordHeading(const std::string& folder, const std::string& id)
{
    const FolderHandle dir = OpenFolder(folder, false);
    if (!IsPlainName(id) || !dir.IsOpen())
        return std::nullopt;
    for (const std::string_view suffix : {kRecordSuffix, kJournalSuffix}) {
        KeyFile keys;
        DeletionRecord record;
        if (keys.LoadOwnFile(dir, id + std::string(suffix), suffix == kJournalSuffix, true)) {
            record.id = id;
            record.complete = suffix == kRecordSuffix;
            return ReadHeader(keys, record) ? std::optional<DeletionRecord>(record) : std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace snapsift
