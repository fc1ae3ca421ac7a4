// SPDX-License-Identifier: MIT
#include "targets/search_targets.h"

#include "platform/file_system.h"

namespace snapsift {

namespace {

std::uint32_t NoFiles(std::string_view, const void*)
{
    return 0;
}

}  // namespace

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

int FolderTable::Append(const std::string& path)
{
    m_folderPaths.push_back(path);
    return FolderCount() - 1;
}

int SearchTargets::InsertItem(TargetNode node)
{
    const int index = static_cast<int>(nodes.size());
    const int parent = node.parent;
    nodes.push_back(std::move(node));
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

std::optional<std::vector<std::string>> SearchTargets::ListDesktop(const std::string& desktopFolder)
{
    if (desktopFolder.empty() || !OpenFolder(desktopFolder).IsOpen())
        return std::nullopt;
    return ListSubfolderNames(desktopFolder, true);
}

void SearchTargets::BuildFolderTree(const std::vector<Drive>& drives, const std::string& desktopFolder)
{
    BuildFolderTree(drives, desktopFolder, ListDesktop(desktopFolder));
}

void SearchTargets::BuildFolderTree(const std::vector<Drive>& drives, const std::string& desktopFolder,
                                    const std::optional<std::vector<std::string>>& desktopListing)
{
    const int current = InsertItem(TargetNode{TargetNodeKind::CurrentRoot, {}, {}, -1, -1, {}});
    folders = FolderTable();
    for (const Drive& drive : drives) {
        const int node = InsertItem(TargetNode{
            TargetNodeKind::Drive, drive.mountPoint, drive.kind, folders.Append(drive.mountPoint), current, {}});
        nodes[node].answering = drive.answering;
    }
    if (!desktopFolder.empty()) {
        const int desktopRow = folders.Append(desktopFolder);
        if (desktopListing) {
            const int desktop = InsertItem(TargetNode{TargetNodeKind::Desktop, {}, {}, desktopRow, -1, {}});
            for (const std::string& name : *desktopListing)
                InsertFolder(name, desktop, JoinPath(desktopFolder, name));
        }
    }
}

int SearchTargets::InsertFolder(const std::string& name, int parent, const std::string& path)
{
    return InsertItem(TargetNode{TargetNodeKind::Folder, name, {}, folders.Append(path), parent, {}});
}

std::optional<FolderToList> SearchTargets::FolderToExpand(int node) const
{
    if (node < 0 || node >= static_cast<int>(nodes.size()) || nodes[node].row < 0 || !nodes[node].children.empty())
        return std::nullopt;
    // Drives and the desktop may be reached through a link; folders below them
    // never are.
    const bool isRoot = nodes[node].parent < 0 || nodes[nodes[node].parent].row < 0;
    return FolderToList{folders.m_folderPaths[nodes[node].row], isRoot};
}

std::vector<int> SearchTargets::AddListedFolders(int node, const std::vector<std::string>& names)
{
    std::vector<int> added;
    const std::optional<FolderToList> folder = FolderToExpand(node);
    if (!folder)
        return added;
    for (const std::string& name : names)
        added.push_back(InsertFolder(name, node, JoinPath(folder->path, name)));
    return added;
}

std::vector<int> SearchTargets::ExpandFolderNode(int node)
{
    const std::optional<FolderToList> folder = FolderToExpand(node);
    if (!folder)
        return {};
    return AddListedFolders(node, ListSubfolderNames(folder->path, folder->followLastLink));
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

}  // namespace snapsift
