#pragma once

#include "platform/mounts.h"

#include <string>
#include <vector>

namespace snapsift {

extern const char* const kCurrentRootText;    // "カレント"
extern const char* const kDesktopText;        // "デスクトップ"

// Display names and paths of every folder the tree shows. Rows are only ever
// appended; display names repeat when folders share a name.
class FolderTable final {
public:
    std::vector<std::string> m_folderNames;
    std::vector<std::string> m_folderPaths;
    int m_folderCount = 0;

    int Append(const std::string& name, const std::string& path);
};

// A node of the target tree. Every node but the root "カレント" carries the
// folder-table row of its own folder.
struct TargetNode {
    std::string text;
    int row = -1;
    int parent = -1;
    std::vector<int> children;
};

// Why the search command has no folder to search.
enum class TargetRefusal {
    None,
    NoNodeSelected,
    NotATarget,  // the "カレント" root, which stands for no folder
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

    // Builds the roots: "カレント" with one node per drive, then "デスクトップ"
    // with the desktop's subfolders when the desktop folder can be listed.
    // Always succeeds.
    bool BuildFolderTree(const std::vector<Drive>& drives, const std::string& desktopFolder);

    // Lists the subfolders of `node`'s own folder under it, once: a node that
    // has children is not listed again. Returns the nodes added.
    std::vector<int> ExpandFolderNode(int node);

    // The search command's target for the selected node (-1 for none): the
    // node's own folder, or why there is nothing to search.
    TargetChoice OnSearch(int selectedNode) const;

    // The roots, in order.
    std::vector<int> Roots() const;

private:
    int InsertItem(const std::string& text, int parent, int row);
};

} // namespace snapsift
