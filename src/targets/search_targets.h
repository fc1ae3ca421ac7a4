#pragma once

#include "platform/mounts.h"

#include <functional>
#include <string>
#include <vector>

namespace snapsift {

class Messenger;
class ResultView;

extern const char* const kCurrentRootText;    // "カレント"
extern const char* const kDesktopText;        // "デスクトップ"
extern const char* const kChooseTargetText;   // no node selected
extern const char* const kNotATargetText;     // the "カレント" root chosen

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

// The folder tree and the folder table behind it, and the search command.
// The window's tree widget mirrors the nodes, by node index.
class SearchTargets final {
public:
    FolderTable folders;
    std::vector<TargetNode> nodes;

    // Builds the roots: "カレント" with one node per drive, then "デスクトップ"
    // with the desktop's subfolders when the desktop folder can be listed.
    // Ends by setting up the result columns. Always succeeds.
    bool BuildFolderTree(const std::vector<Drive>& drives, const std::string& desktopFolder, ResultView& view);

    // Lists the subfolders of `node`'s own folder under it, once: a node that
    // has children is not listed again. Returns the nodes added.
    std::vector<int> ExpandFolderNode(int node);

    // The search command for the selected node (-1 for none): says why when
    // there is nothing to search, else hands the node's own folder to `search`.
    void OnSearch(int selectedNode, Messenger& messenger, const std::function<void(const std::string&)>& search) const;

    // The roots, in order.
    std::vector<int> Roots() const;

private:
    int InsertItem(const std::string& text, int parent, int row);
};

} // namespace snapsift
