// SPDX-License-Identifier: MIT
#include "review/protection.h"

#include "platform/file_system.h"
#include "review/result_view.h"
#include "scan/file_table.h"

#include <cstdlib>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>

namespace snapsift {
namespace {

// The path with a trailing slash removed (but "/" kept).
std::string Trimmed(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The folder above `path` ("/" above "/x"); empty above "/" and for a
// path without a slash.
std::string_view Parent(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos || path == "/")
        return {};
    return slash == 0 ? std::string_view("/") : path.substr(0, slash);
}

std::uint64_t DeviceKey(const FilePlace& place)
{
    return (static_cast<std::uint64_t>(place.major) << 32) | place.minor;
}

}  // namespace

bool ProtectedFolders::Add(const std::string& path)
{
    Folder folder;
    struct stat st { };
    const auto canonical = CanonicalFolderPath(path);
    folder.path = Trimmed(canonical ? *canonical : path);
    if (stat(folder.path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        folder.identity = IdentityOf(st);
    }
    // Also known by the text it was given by, so that a view showing that
    // text knows it protected without looking at the disk.
    folder.given = Trimmed(path);
    if (const int known = Find(path); known >= 0)
        folders_[static_cast<std::size_t>(known)].given = folder.given;
    else
        folders_.push_back(folder);
    return folder.identity.Known();
}

void ProtectedFolders::Remove(const std::string& path)
{
    for (int i; (i = Find(path)) >= 0;)
        folders_.erase(folders_.begin() + i);
}

int ProtectedFolders::Find(const std::string& path) const
{
    const auto canonical = CanonicalFolderPath(path);
    const std::string wanted = Trimmed(canonical ? *canonical : path);
    struct stat st { };
    const FileIdentity identity =
        stat(wanted.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? IdentityOf(st) : FileIdentity{};
    const std::string given = Trimmed(path);
    for (std::size_t i = 0; i < folders_.size(); ++i) {
        const Folder& f = folders_[i];
        const bool sameFolder = identity.Known() && f.identity == identity;
        if (f.path == wanted || f.given == given || sameFolder)
            return static_cast<int>(i);
    }
    return -1;
}

bool ProtectedFolders::IsProtected(const std::string& path) const
{
    return Find(path) >= 0;
}

void ProtectedFolders::AddKept(const std::string& path, const std::string& written)
{
    Folder folder;
    folder.path = Trimmed(path);
    folder.written = written;
    for (const Folder& f : folders_) {
        if (f.path == folder.path && f.written == folder.written)
            return;
    }
    folders_.push_back(std::move(folder));
}

bool ProtectedFolders::NamesProtected(const std::string& path) const
{
    const std::string wanted = Trimmed(path);
    for (const Folder& f : folders_) {
        if (f.path == wanted || f.given == wanted)
            return true;
    }
    return false;
}

bool ProtectedFolders::Covers(const std::string& folderPath) const
{
    if (folders_.empty())
        return false;
    const std::string given = Trimmed(folderPath);
    ProtectionRule rule(*this, ReadMountTable());
    if (rule.Covers(given))
        return true;
    const auto canonical = CanonicalFolderPath(given);
    return canonical && rule.Covers(*canonical);
}

ProtectionRule::ProtectionRule(const ProtectedFolders& folders, std::vector<MountEntry> mounts, bool resolveKept)
    : mounts_(std::move(mounts))
{
    for (const ProtectedFolders::Folder& f : folders.Folders()) {
        Protect(f.path);
        // A path kept from the settings may have been written with a link in
        // it: protected as written and as the kernel resolves it.
        if (resolveKept && !f.identity.Known() && !f.path.empty()) {
            if (char* resolved = realpath(f.path.c_str(), nullptr)) {
                Protect(resolved);
                std::free(resolved);
            }
        }
    }
}

void ProtectionRule::Protect(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return;
    paths_.insert(path);
    if (const auto place = mounts_.PlaceOf(path))
        places_[DeviceKey(*place)].insert(place->path);
}

bool ProtectionRule::Covers(const std::string& folderPath)
{
    if (paths_.empty())
        return false;
    auto [it, added] = decided_.try_emplace(folderPath, false);
    if (added)
        it->second = Decide(Trimmed(folderPath));
    return it->second;
}

bool ProtectionRule::Decide(const std::string& folderPath) const
{
    // The path as seen, and each folder above it.
    for (std::string_view up = folderPath; !up.empty(); up = Parent(up)) {
        if (paths_.find(up) != paths_.end())
            return true;
    }
    // Its place in its own file system, and each folder above that.
    const auto place = mounts_.PlaceOf(folderPath);
    if (!place)
        return false;
    const auto device = places_.find(DeviceKey(*place));
    if (device == places_.end())
        return false;
    for (std::string_view up = place->path; !up.empty(); up = Parent(up)) {
        if (device->second.find(up) != device->second.end())
            return true;
    }
    return false;
}

std::vector<int> RowsUnderProtection(const FileTable& table, const std::vector<int>& rows,
                                     const ProtectedFolders& folders)
{
    std::vector<int> under;
    if (folders.Empty())
        return under;
    ProtectionRule rule(folders, ReadMountTable(), true);
    // The table keeps each folder's path once: its address stands for it.
    std::unordered_map<const std::string*, bool> byFolder;
    const std::string* last = nullptr;
    bool lastCovered = false;
    for (int row : rows) {
        const std::string* folder = &table.Folder(row);
        if (folder != last) {
            auto [it, added] = byFolder.try_emplace(folder, false);
            if (added)
                it->second = rule.Covers(*folder);
            last = folder;
            lastCovered = it->second;
        }
        if (lastCovered)
            under.push_back(row);
    }
    return under;
}

ProtectedSplit SplitProtected(const ResultView& view, const std::vector<int>& listRows, const ProtectedFolders& folders)
{
    ProtectedSplit split;
    std::vector<int> tableRows;
    tableRows.reserve(listRows.size());
    for (int row : listRows)
        tableRows.push_back(view.list.TableRow(row));
    const std::vector<int> under = RowsUnderProtection(view.table, tableRows, folders);
    std::size_t next = 0;
    for (std::size_t i = 0; i < listRows.size(); ++i) {
        if (next < under.size() && under[next] == tableRows[i]) {
            split.protectedPaths.push_back(view.table.Path(tableRows[i]));
            ++next;
        } else {
            split.movable.push_back(listRows[i]);
        }
    }
    return split;
}

std::vector<std::uint8_t> ProtectedRowFlags(const FileTable& table, const ProtectedFolders& folders)
{
    std::vector<std::uint8_t> flags(static_cast<std::size_t>(table.RowCount()));
    if (folders.Empty())
        return flags;
    std::vector<int> all(flags.size());
    for (std::size_t k = 0; k < all.size(); ++k)
        all[k] = static_cast<int>(k);
    for (int row : RowsUnderProtection(table, all, folders))
        flags[static_cast<std::size_t>(row)] = 1;
    return flags;
}

}  // namespace snapsift
