// SPDX-License-Identifier: MIT
#include "scan/skipped_folders.h"

#include "platform/user_desktop.h"

#include <algorithm>

namespace snapsift {
namespace {

bool EndsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

SkippedFolders SkippedFolders::ForThisUser()
{
    return SkippedFolders(UserTrashFolder(), UserThumbnailFolder());
}

SkippedFolders::SkippedFolders(const std::string& userTrash, const std::string& userThumbnails)
{
    if (!userTrash.empty())
        userTrash_ = IdentifyFolder(OpenFolder(userTrash));
    if (!userThumbnails.empty()) {
        userThumbnails_ = IdentifyFolder(OpenFolder(userThumbnails));
        if (userThumbnails_)
            userThumbnailsPath_ = CanonicalFolderPath(userThumbnails).value_or(std::string());
    }
}

bool SkippedFolders::IsTopTrashName(std::string_view name)
{
    if (name == ".Trash")
        return true;
    constexpr std::string_view kPrefix = ".Trash-";
    if (name.size() <= kPrefix.size() || name.substr(0, kPrefix.size()) != kPrefix)
        return false;
    return name.find_first_not_of("0123456789", kPrefix.size()) == std::string_view::npos;
}

bool SkippedFolders::IsThumbnailName(std::string_view name)
{
    // The shared stores of removable media, and the store of older desktops.
    return name == ".sh_thumbnails" || name == ".thumbnails";
}

bool SkippedFolders::IsTopTrash(const std::string& parentPath, const FolderHandle* parent, ParentTop& parentTop) const
{
    if (!parentTop.known) {
        parentTop.top = parent && parent->IsOpen() ? IsMountTop(*parent) : IsMountTop(OpenFolder(parentPath, false));
        parentTop.known = true;
    }
    return parentTop.top;
}

bool SkippedFolders::SkipsByIdentity(const FileIdentity& id) const
{
    return (userTrash_ && id == *userTrash_) || (userThumbnails_ && id == *userThumbnails_);
}

bool SkippedFolders::SkipsByName(const std::string& parentPath, const FolderHandle* parent, ParentTop& parentTop,
                                 std::string_view name) const
{
    if (IsThumbnailName(name))
        return true;
    // Another user's home in the searched tree: its trash and its thumbnails.
    if (name == "Trash" && EndsWith(parentPath, "/.local/share"))
        return true;
    if (name == "thumbnails" && EndsWith(parentPath, "/.cache"))
        return true;
    return IsTopTrashName(name) && IsTopTrash(parentPath, parent, parentTop);
}

bool SkippedFolders::SkipsTarget(const std::string& canonicalPath, const FolderHandle& target) const
{
    if (const auto id = IdentifyFolder(target); id && SkipsByIdentity(*id))
        return true;
    if (!userThumbnailsPath_.empty() && canonicalPath.size() > userThumbnailsPath_.size() &&
        canonicalPath.compare(0, userThumbnailsPath_.size(), userThumbnailsPath_) == 0 &&
        canonicalPath[userThumbnailsPath_.size()] == '/')
        return true;
    // A folder at or below a store named as one, at any depth.
    for (std::size_t start = 1; start < canonicalPath.size();) {
        const std::size_t slash = std::min(canonicalPath.find('/', start), canonicalPath.size());
        if (IsThumbnailName(std::string_view(canonicalPath).substr(start, slash - start)))
            return true;
        start = slash + 1;
    }
    const std::size_t slash = canonicalPath.rfind('/');
    if (slash == std::string::npos || !IsTopTrashName(std::string_view(canonicalPath).substr(slash + 1)))
        return false;
    const FolderHandle parent = OpenFolder(slash == 0 ? std::string("/") : canonicalPath.substr(0, slash));
    ParentTop top;
    return IsTopTrash(canonicalPath.substr(0, slash), &parent, top);
}

}  // namespace snapsift
