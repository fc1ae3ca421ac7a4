#include "scan/folder_scan.h"

#include "platform/file_system.h"
#include "platform/messenger.h"
#include "platform/progress.h"
#include "platform/shell.h"
#include "scan/file_table.h"
#include "scan/name_pattern.h"

#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace snapsift {

const char* const kNeedOtherExtensionText =
    "その他拡張子に文字列を指定してください。\n"
    "\u3000\u3000\u3000\u3000例\uff1a png, jpeg, txt, html 等";
const char* const kNeedFileTypeText = "検索したいファイル形式を選択してください";
const char* const kInformationCaption = "情報";

namespace {

constexpr int kTypeCount = 4;  // JPEG, BMP, GIF, other: the order of the passes

// The patterns of the ticked types; bit t of a file's tag says it matches type t.
struct TypePatterns {
    std::array<std::string, kTypeCount> pattern;
    std::array<bool, kTypeCount> ticked{};
};

std::uint8_t MatchTypes(std::string_view name, const void* context)
{
    const auto& types = *static_cast<const TypePatterns*>(context);
    std::uint8_t mask = 0;
    for (int t = 0; t < kTypeCount; ++t) {
        if (types.ticked[t] && MatchesNamePattern(name, types.pattern[t]))
            mask |= static_cast<std::uint8_t>(1u << t);
    }
    return mask;
}

// The files of a folder that match a ticked type, kept from the listing to
// the last pass: their names one after another, each ended by a NUL (no file
// name holds one), and what MatchTypes said of each, in the same order. A
// tenth of the memory of a listing entry per file.
struct ListedFiles {
    std::string names;
    std::vector<std::uint8_t> tags;
};

// A folder of the scan list with the names in it that match a ticked type.
struct ScanEntry {
    std::string path;
    std::size_t nameOffset = 0;  // where the folder's own name starts in `path`
    int parent = -1;             // index in the scan list; -1 for the target
    FolderId id;
    ListedFiles files;
};

class Collector final {
public:
    Collector(const std::string& target, const TypePatterns& types, Progress& progress)
        : target_(target), types_(types), progress_(progress)
    {
        if (const auto id = IdentifyFolder(OpenFolder(UserTrashFolder())))
            userTrash_ = *id;
    }

    // Lists the target and, breadth-first, every folder below it. Returns the
    // scan list with the target stored last.
    std::vector<ScanEntry> CollectSubfolders()
    {
        ScanEntry root;
        root.path = target_;
        FolderHandle rootHandle = OpenFolder(target_);
        if (rootHandle.IsOpen() && !IsPseudoFileSystem(rootHandle) && !IsTrashTarget(rootHandle)) {
            if (const auto id = IdentifyFolder(rootHandle)) {
                root.id = *id;
                visited_.insert(*id);
            }
            ListInto(rootHandle, root, -1);
        }
        const int n = static_cast<int>(list_.size());
        progress_.SetRange(0, n);
        for (std::size_t i = 0; n > 0 && i < list_.size(); ++i) {
            FolderHandle handle = OpenCollected(static_cast<int>(i));
            if (handle.IsOpen() && IdentifyFolder(handle) != list_[i].id)
                handle = FolderHandle();  // something else stands under its name since it was listed
            if (handle.IsOpen() && !(CrossesDevice(static_cast<int>(i)) && IsPseudoFileSystem(handle))) {
                ScanEntry& entry = list_[i];
                ListInto(handle, entry, static_cast<int>(i));
            }
            lastListed_ = std::move(handle);
            lastListedIndex_ = static_cast<int>(i);
            progress_.DeltaPos(ClampToInt(list_.size()));
        }
        progress_.SetPos(0);
        list_.push_back(std::move(root));
        return std::move(list_);
    }

private:
    static int ClampToInt(std::size_t value) { return static_cast<int>(std::min<std::size_t>(value, INT_MAX)); }

    static bool IsTopTrashName(std::string_view name)
    {
        if (name == ".Trash")
            return true;
        constexpr std::string_view kPrefix = ".Trash-";
        if (name.size() <= kPrefix.size() || name.substr(0, kPrefix.size()) != kPrefix)
            return false;
        return name.find_first_not_of("0123456789", kPrefix.size()) == std::string_view::npos;
    }

    // A trash holds no live copies: the user's own trash, and ".Trash" and
    // ".Trash-UID" (any user's) at the top of a disk.
    bool IsTrash(const FolderHandle& parent, bool& parentIsTopKnown, bool& parentIsTop, const std::string& name,
                 const FolderId& id) const
    {
        if (userTrash_ && id == *userTrash_)
            return true;
        if (!IsTopTrashName(name))
            return false;
        if (!parentIsTopKnown) {
            parentIsTop = IsMountTop(parent);
            parentIsTopKnown = true;
        }
        return parentIsTop;
    }

    bool IsTrashTarget(const FolderHandle& target) const
    {
        const auto id = IdentifyFolder(target);
        if (id && userTrash_ && *id == *userTrash_)
            return true;
        const std::size_t slash = target_.rfind('/');
        if (slash == std::string::npos || !IsTopTrashName(std::string_view(target_).substr(slash + 1)))
            return false;
        const FolderHandle parent = OpenFolder(slash == 0 ? std::string("/") : target_.substr(0, slash));
        return IsMountTop(parent);
    }

    bool CrossesDevice(int index) const
    {
        const int parent = list_[index].parent;
        const dev_t parentDevice = parent < 0 ? rootDevice_ : list_[parent].id.device;
        return list_[index].id.device != parentDevice;
    }

    // Opens a collected folder through its parent when the parent is at hand,
    // so deep trees are not walked from the top for every folder.
    FolderHandle OpenCollected(int index)
    {
        const ScanEntry& entry = list_[index];
        const std::string name = entry.path.substr(entry.nameOffset);
        if (entry.parent == lastListedIndex_ && lastListed_.IsOpen())
            return OpenSubfolder(lastListed_, name);
        if (entry.parent != parentIndex_ || !parentHandle_.IsOpen()) {
            parentHandle_ = entry.parent < 0 ? OpenFolder(target_) : OpenFolder(list_[entry.parent].path, false);
            parentIndex_ = entry.parent;
        }
        return OpenSubfolder(parentHandle_, name);
    }

    void ListInto(const FolderHandle& handle, ScanEntry& entry, int index)
    {
        if (index < 0) {
            if (const auto id = IdentifyFolder(handle))
                rootDevice_ = id->device;
        }
        std::vector<ListedEntry> listed;
        ListFolder(handle, listed, &MatchTypes, &types_);
        const std::string folderPath = entry.path;  // list_ may grow below
        ListedFiles files;
        std::size_t nameBytes = 0, fileCount = 0;
        for (const ListedEntry& e : listed) {
            if (e.kind == EntryKind::RegularFile) {
                nameBytes += e.name.size() + 1;
                ++fileCount;
            }
        }
        files.names.reserve(nameBytes);
        files.tags.reserve(fileCount);
        bool isTopKnown = false, isTop = false;
        for (const ListedEntry& e : listed) {
            if (e.kind == EntryKind::RegularFile) {
                files.names.append(e.name.c_str(), e.name.size() + 1);
                files.tags.push_back(e.tag);
                continue;
            }
            if (IsTrash(handle, isTopKnown, isTop, e.name, e.id))
                continue;
            if (!visited_.insert(e.id).second)
                continue;  // already reached another way
            ScanEntry sub;
            sub.path = JoinPath(folderPath, e.name);
            sub.nameOffset = sub.path.size() - e.name.size();
            sub.parent = index;
            sub.id = e.id;
            list_.push_back(std::move(sub));
        }
        (index < 0 ? entry : list_[index]).files = std::move(files);
    }

    const std::string& target_;
    const TypePatterns& types_;
    Progress& progress_;
    std::vector<ScanEntry> list_;
    std::unordered_set<FolderId, FolderIdHash> visited_;
    dev_t rootDevice_ = 0;
    std::optional<FolderId> userTrash_;
    FolderHandle lastListed_;
    int lastListedIndex_ = -2;
    FolderHandle parentHandle_;
    int parentIndex_ = -2;
};

// Adds a row for every file of type `type` in `entry`, as it is now.
void ScanPass(const ScanEntry& entry, int type, bool isTarget, FileTable& table)
{
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << type);
    FolderHandle handle;
    const char* next = entry.files.names.c_str();
    for (const std::uint8_t tag : entry.files.tags) {
        const std::string_view name(next);  // up to its NUL
        next += name.size() + 1;
        if ((tag & bit) == 0)
            continue;
        if (!handle.IsOpen()) {
            handle = OpenFolder(entry.path, isTarget);
            // The folder that was listed, not whatever its path leads to now:
            // a link put in place of it or of a folder above it leads elsewhere.
            if (!handle.IsOpen() || IdentifyFolder(handle) != entry.id)
                return;  // gone or replaced since it was listed
        }
        const auto facts = StatRegularFile(handle.Fd(), name.data());
        if (!facts)
            continue;  // gone, or no longer a regular file
        table.AddFoundFile(FoundFile{std::string(name), JoinPath(entry.path, name), facts->size,
                                     facts->creationTime, facts->identity});
    }
}

} // namespace

ScanOutcome ScanFolder(const std::string& target, const SearchOptions& options, FileTable& table,
                       Messenger& messenger, Progress& progress, const std::function<void()>& fillResultView)
{
    if (options.m_bOther && options.m_strOtherExt.empty()) {
        messenger.Show({kNeedOtherExtensionText, kInformationCaption, MessageButtons::Ok, MessageIcon::Information});
        return ScanOutcome::Refused;
    }
    if (!options.m_bJpeg && !options.m_bBmp && !options.m_bGif && !options.m_bOther) {
        messenger.Show({kNeedFileTypeText, kInformationCaption, MessageButtons::Ok, MessageIcon::Information});
        return ScanOutcome::Refused;
    }
    TypePatterns types;
    // An extension of stars alone matches every file, also one without a dot,
    // as "*.*" does where the search comes from.
    const bool everyFile = options.m_strOtherExt.find_first_not_of('*') == std::string::npos;
    types.pattern = {"*.jpg", "*.bmp", "*.gif", everyFile ? std::string("*") : "*." + options.m_strOtherExt};
    types.ticked = {options.m_bJpeg, options.m_bBmp, options.m_bGif, options.m_bOther};
    const int ticked = static_cast<int>(std::count(types.ticked.begin(), types.ticked.end(), true));

    // Every row's path starts with the target's canonical path, so that the
    // path shown, checked, logged and handed to the trash names one file. A
    // target that cannot be resolved safely is searched as an empty one.
    const std::string canonicalTarget = CanonicalFolderPath(target).value_or(std::string());
    Collector collector(canonicalTarget, types, progress);
    std::vector<ScanEntry> scanList = collector.CollectSubfolders();
    const long long j = static_cast<long long>(scanList.size()) - 1;

    table.ClearFileTable();
    progress.SetRange(0, static_cast<int>(std::min<long long>(j * ticked, INT_MAX)));
    for (int type = 0; type < kTypeCount; ++type) {
        if (!types.ticked[type])
            continue;
        for (long long index = j; index >= 0; --index) {
            ScanEntry& entry = scanList[index];
            ScanPass(entry, type, index == j, table);
            // A listing no later pass needs gives its memory back now, while
            // the table is still growing.
            if (std::none_of(entry.files.tags.begin(), entry.files.tags.end(),
                             [type](std::uint8_t tag) { return (tag >> (type + 1)) != 0; }))
                entry.files = ListedFiles();
            progress.DeltaPos(1);
        }
    }
    std::vector<ScanEntry>().swap(scanList);  // the view needs the room more
    fillResultView();
    progress.SetPos(0);
    return ScanOutcome::Scanned;
}

} // namespace snapsift
