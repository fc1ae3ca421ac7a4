#include "targets/search_targets.h"

#include "platform/file_system.h"

namespace snapsift {

const char* const kCurrentRootText = "カレント";
const char* const kDesktopText = "デスクトップ";

namespace {

std::uint8_t NoFiles(std::string_view, const void*)
{
    return 0;
}

std::vector<std::string> ListSubfolderNames(const std::string& path, bool followLastLink)
{
    std::vector<std::string> names;
    const FolderHandle folder = OpenFolder(path, followLastLink);
    if (!folder.IsOpen())
        return names;
    std::vector<ListedEntry> entries;
    ListFolder(folder, entries, &NoFiles, nullptr);
    for (ListedEntry& e : entries)
        names.push_back(std::move(e.name));
    return names;
}

} // namespace

int FolderTable::Append(const std::string& name, const std::string& path)
{
    m_folderNames.push_back(name);
    m_folderPaths.push_back(path);
    return m_folderCount++;
}

int SearchTargets::InsertItem(const std::string& text, int parent, int row)
{
    const int index = static_cast<int>(nodes.size());
    nodes.push_back(TargetNode{text, row, parent, {}});
    if (parent >= 0)
        nodes[parent].children.push_back(index);
    return index;
}

std::vector<int> SearchTargets::Roots() const
{
    std::vector<int> roots;
    for (int i = 0; i < static_cast<int>(nodes.size()); ++i) {
        if (nodes[i].parent < 0)
            roots.push_back(i);
    }
    return roots;
}

bool SearchTargets::BuildFolderTree(const std::vector<Drive>& drives, const std::string& desktopFolder)
{
    const int current = InsertItem(kCurrentRootText, -1, -1);
    folders = FolderTable();
    for (const Drive& drive : drives) {
        const std::string label = drive.DisplayName();
        InsertItem(label, current, folders.Append(label, drive.mountPoint));
    }
    if (!desktopFolder.empty()) {
        const int desktopRow = folders.Append(kDesktopText, desktopFolder);
        if (OpenFolder(desktopFolder).IsOpen()) {
            const int desktop = InsertItem(kDesktopText, -1, desktopRow);
            for (const std::string& name : ListSubfolderNames(desktopFolder, true))
                InsertItem(name, desktop, folders.Append(name, JoinPath(desktopFolder, name)));
        }
    }
    return true;
}

std::vector<int> SearchTargets::ExpandFolderNode(int node)
{
    std::vector<int> added;
    if (node < 0 || node >= static_cast<int>(nodes.size()) || nodes[node].row < 0 || !nodes[node].children.empty())
        return added;
    const std::string path = folders.m_folderPaths[nodes[node].row];
    // Drives and the desktop may be reached through a link; folders below them
    // never are.
    const bool isRoot = nodes[node].parent < 0 || nodes[nodes[node].parent].row < 0;
    for (const std::string& name : ListSubfolderNames(path, isRoot))
        added.push_back(InsertItem(name, node, folders.Append(name, JoinPath(path, name))));
    return added;
}

TargetChoice SearchTargets::OnSearch(int selectedNode) const
{
    if (selectedNode < 0 || selectedNode >= static_cast<int>(nodes.size()))
        return TargetChoice{TargetRefusal::NoNodeSelected, {}};
    const TargetNode& node = nodes[selectedNode];
    if (node.row < 0)
        return TargetChoice{TargetRefusal::NotATarget, {}};
    return TargetChoice{TargetRefusal::None, folders.m_folderPaths[node.row]};
}

} // namespace snapsift
