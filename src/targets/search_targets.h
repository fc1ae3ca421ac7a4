// SPDX-License-Identifier: MIT
#pragma once

#include "platform/mounts.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace snapsift {

// The paths of every folder the tree shows. Rows are only ever appended.
class FolderTable final {
public:
    std::vector<std::string> m_folderPaths;

    int FolderCount() const { return static_cast<int>(m_folderPaths.size()); }
    // Appends `path`; returns its row.
    int Append(const std::string& path);
};

// What a node of the target tree stands for. The window makes the words of
// the two roots and of a drive's kind.
enum class TargetNodeKind : std::uint8_t {
    CurrentRoot,  // the root above the drives, which stands for no folder
    Drive,        // a mounted drive: `name` is its mount point
    Desktop,      // the desktop folder's root
    Folder,       // a folder below a root: `name` is its own name
};

// A node of the target tree. Every node but the current root carries the
// folder-table row of its own folder.
struct TargetNode {
    TargetNodeKind kind = TargetNodeKind::Folder;
    std::string name;                      // for Drive and Folder
    DriveKind drive = DriveKind::Unknown;  // for Drive
    int row = -1;
    int parent = -1;
    std::vector<int> children;
    bool answering = true;  // false: its folder gave no answer in time when last asked
};

// A folder that a tree node lists, and how it is opened.
struct FolderToList {
    std::string path;
    bool followLastLink = false;  // drives and the desktop may be reached through a link
};

// The names of the subfolders of `path`, in listing order; empty when it
// cannot be opened. It waits for as long as the folder's disk does.
std::vector<std::string> ListSubfolderNames(const std::string& path, bool followLastLink);

// Why the search command has no folder to search.
enum class TargetRefusal {
    None,
    NoNodeSelected,
    NotATarget,  // the current root, which stands for no folder
};

// The folder the search command searches, or why there is none.
struct TargetChoice {
    TargetRefusal refusal = TargetRefusal::None;
    std::string path;  // empty unless refusal is None
};

// The folder tree the user picks a search target in, and the folder table
// behind it. The window's tree widget mirrors the nodes, by node index.
class SearchTargets final {
public:
    FolderTable folders;
    std::vector<TargetNode> nodes;

    // Builds the roots: the current root with one node per drive, then the
    // desktop with its subfolders when the desktop folder can be listed.
    void BuildFolderTree(const std::vector<Drive>& drives, const std::string& desktopFolder);
    // The same with the desktop already looked at: `desktopListing` holds its
    // subfolders' names, or nothing when it could not be listed.
    void BuildFolderTree(const std::vector<Drive>& drives, const std::string& desktopFolder,
                         const std::optional<std::vector<std::string>>& desktopListing);
    // What BuildFolderTree lists of the desktop: nothing when it cannot be opened.
    static std::optional<std::vector<std::string>> ListDesktop(const std::string& desktopFolder);

    // Lists the subfolders of `node`'s own folder under it, once: a node that
    // has children is not listed again. Returns the nodes added.
    std::vector<int> ExpandFolderNode(int node);
    // ExpandFolderNode in two steps, for a caller that lists the folder
    // elsewhere: the folder to list (none for a node that has children or
    // stands for no folder), then the listed names added under the node,
    // unless it has children by then.
    std::optional<FolderToList> FolderToExpand(int node) const;
    std::vector<int> AddListedFolders(int node, const std::vector<std::string>& names);

    // The search command's target for the selected node (-1 for none): the
    // node's own folder, or why there is nothing to search.
    TargetChoice OnSearch(int selectedNode) const;

    // The roots, in order.
    std::vector<int> Roots() const;

private:
    int InsertItem(TargetNode node);
    int InsertFolder(const std::string& name, int parent, const std::string& path);
};

}  // namespace snapsift
