// SPDX-License-Identifier: MIT
#include "review/protection.h"

#include "platform/file_system.h"
#include "review/result_view.h"
#include "scan/file_table.h"

#include <sys/stat.h>

#include <string_view>
#include <unordered_map>

namespace snapsift {
namespace {

// `path` is `folder` or lies below it, as text.
bool IsAtOrBelow(std::string_view path, std::string_view folder)
{
    if (folder == "/")
        return !path.empty() && path[0] == '/';
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

// The path with a trailing slash removed (but "/" kept).
std::string Trimmed(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

bool ProtectedFolders::Add(const std::string& path)
{
    Folder folder;
    struct stat st {};
    const auto canonical = CanonicalFolderPath(path);
    folder.path = Trimmed(canonical ? *canonical : path);
    if (stat(folder.path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        folder.identified = true;
        folder.device = st.st_dev;
        folder.inode = st.st_ino;
    }
    if (Find(path) < 0)
        folders_.push_back(folder);
    return folder.identified;
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
    struct stat st {};
    const bool identified = stat(wanted.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    for (std::size_t i = 0; i < folders_.size(); ++i) {
        const Folder& f = folders_[i];
        if (f.path == wanted || (identified && f.identified && f.device == st.st_dev && f.inode == st.st_ino))
            return static_cast<int>(i);
    }
    return -1;
}

bool ProtectedFolders::IsProtected(const std::string& path) const
{
    return Find(path) >= 0;
}

bool ProtectedFolders::Covers(const std::string& folderPath) const
{
    if (folders_.empty())
        return false;
    const std::string given = Trimmed(folderPath);
    const auto canonical = CanonicalFolderPath(given);
    for (const Folder& f : folders_) {
        if (IsAtOrBelow(given, f.path) || (canonical && IsAtOrBelow(*canonical, f.path)))
            return true;
    }
    // The same folder reached another way (a bind mount, a path that could
    // not be resolved): look at the identity of every folder on the way up.
    std::string up = canonical ? *canonical : given;
    for (;;) {
        struct stat st {};
        if (stat(up.c_str(), &st) == 0) {
            for (const Folder& f : folders_) {
                if (f.identified && f.device == st.st_dev && f.inode == st.st_ino)
                    return true;
            }
        }
        const std::size_t slash = up.rfind('/');
        if (slash == std::string::npos || up == "/")
            return false;
        up = slash == 0 ? std::string("/") : up.substr(0, slash);
    }
}

std::vector<int> RowsUnderProtection(const FileTable& table, const std::vector<int>& rows,
                                     const ProtectedFolders& folders)
{
    std::vector<int> under;
    if (folders.Empty())
        return under;
    std::unordered_map<std::string, bool> byFolder;
    for (int row : rows) {
        const std::string& folder = table.Folder(row);
        auto [it, added] = byFolder.try_emplace(folder, false);
        if (added)
            it->second = folders.Covers(folder);
        if (it->second)
            under.push_back(row);
    }
    return under;
}

ProtectedSplit SplitProtected(const ResultView& view, const std::vector<int>& listRows,
                              const ProtectedFolders& folders)
{
    ProtectedSplit split;
    std::vector<int> tableRows;
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

} // namespace snapsift
