#include "scan/folder_scan.h"

#include "platform/file_system.h"
#include "platform/progress.h"
#include "platform/shell.h"
#include "scan/file_table.h"
#include "scan/name_pattern.h"
#include "scan/parallel_walk.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <memory>
#include <optional>
#include <unistd.h>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace snapsift {

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
    int parent = -1;             // index in the scan list; -1 for the target
    FolderId id;
    std::uint8_t types = 0;      // every tag of `files` together; fixed once collected
    ListedFiles files;
};

// A folder to list, with everything a worker needs to list it.
struct FolderJob {
    std::string path;
    std::size_t nameOffset = 0;  // where the folder's own name starts in `path`
    FolderId id;                 // what its parent's listing said it is
    bool crossesDevice = false;  // on another file system than its parent
    std::shared_ptr<const FolderHandle> parent;  // the parent, still open, when at hand
};

// What listing one folder gave.
struct FolderListing {
    ListedFiles files;
    std::vector<std::pair<std::string, FolderId>> subfolders;  // in listing order
    std::shared_ptr<const FolderHandle> handle;  // kept open for its subfolders, when at hand
    bool complete = true;  // false: the folder could not be read to its end
};

// Folders kept open so that their subfolders need not be opened from the top:
// a deep tree costs one step per level, not one walk from the top per folder.
// Wide levels fall back to opening by path once this many are held.
constexpr int kMaxHeldFolders = 256;

FolderListing ListFolderFiles(const FolderHandle& handle, const TypePatterns& types)
{
    std::vector<ListedEntry> listed;
    FolderListing out;
    out.complete = ListFolder(handle, listed, &MatchTypes, &types);
    std::size_t nameBytes = 0, fileCount = 0;
    for (const ListedEntry& e : listed) {
        if (e.kind == EntryKind::RegularFile) {
            nameBytes += e.name.size() + 1;
            ++fileCount;
        }
    }
    out.files.names.reserve(nameBytes);
    out.files.tags.reserve(fileCount);
    out.subfolders.reserve(listed.size() - fileCount);
    for (ListedEntry& e : listed) {
        if (e.kind == EntryKind::RegularFile) {
            out.files.names.append(e.name.c_str(), e.name.size() + 1);
            out.files.tags.push_back(e.tag);
        } else {
            out.subfolders.emplace_back(std::move(e.name), e.id);
        }
    }
    return out;
}

std::uint8_t TypesOf(const ListedFiles& files)
{
    std::uint8_t types = 0;
    for (const std::uint8_t tag : files.tags)
        types |= tag;
    return types;
}

class Collector final {
public:
    Collector(const std::string& target, const TypePatterns& types, Progress& progress, unsigned threads)
        : target_(target), types_(types), progress_(progress), threads_(threads)
    {
        if (const auto id = IdentifyFolder(OpenFolder(UserTrashFolder())))
            userTrash_ = *id;
    }

    // Lists the target and, breadth-first, every folder below it. Returns the
    // scan list with the target stored last.
    //
    // Workers list the folders in any order, several at a time; this thread
    // takes their listings in scan-list order and alone decides which
    // subfolders are new, so the list, the folders left out as reached twice
    // and the progress steps are those of listing one folder after another.
    std::vector<ScanEntry> CollectSubfolders()
    {
        ScanEntry root;
        root.path = target_;
        FolderListing rootListing;
        {
            errno = 0;
            FolderHandle rootHandle = OpenFolder(target_);
            if (!rootHandle.IsOpen())
                targetError_ = errno != 0 ? errno : ENOENT;
            if (rootHandle.IsOpen() && !IsPseudoFileSystem(rootHandle) && !IsTrashTarget(rootHandle)) {
                if (const auto id = IdentifyFolder(rootHandle)) {
                    root.id = *id;
                    rootDevice_ = id->device;
                    visited_.insert(*id);
                }
                errno = 0;
                rootListing = ListFolderFiles(rootHandle, types_);
                if (!rootListing.complete)
                    targetError_ = errno != 0 ? errno : EIO;
                rootListing.handle = Hold(std::move(rootHandle));
            }
        }
        OrderedWork<FolderJob, FolderListing> work(threads_, 4 * std::size_t{threads_},
                                                   [this](FolderJob& job) { return ListCollected(job); });
        root.files = std::move(rootListing.files);
        root.types = TypesOf(root.files);
        AddSubfolders(work, -1, target_, rootDevice_, rootListing);
        rootListing = FolderListing();
        const int n = static_cast<int>(list_.size());
        progress_.SetRange(0, n);
        for (std::size_t i = 0; n > 0 && i < list_.size(); ++i) {
            FolderListing listing = work.Next();
            ScanEntry& entry = list_[i];
            entry.files = std::move(listing.files);
            entry.types = TypesOf(entry.files);
            const std::string path = entry.path;  // list_ grows below
            AddSubfolders(work, static_cast<int>(i), path, entry.id.device, listing);
            progress_.DeltaPos(ClampToInt(list_.size()));
        }
        progress_.SetPos(0);
        list_.push_back(std::move(root));
        return std::move(list_);
    }

    // 0 when the target was opened and listed; else why not. Known once
    // CollectSubfolders has run.
    int TargetError() const { return targetError_; }

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

    // Appends the subfolders of a listed folder that are reached here first,
    // in listing order, and hands each to the workers.
    void AddSubfolders(OrderedWork<FolderJob, FolderListing>& work, int index, const std::string& path,
                       dev_t device, const FolderListing& listing)
    {
        ParentTop parentTop;
        for (const auto& [name, id] : listing.subfolders) {
            if (!visited_.insert(id).second)
                continue;  // already reached another way
            if (IsTrash(path, listing, parentTop, name, id))
                continue;
            ScanEntry sub;
            sub.path = JoinPath(path, name);
            sub.parent = index;
            sub.id = id;
            FolderJob job;
            job.path = sub.path;
            job.nameOffset = sub.path.size() - name.size();
            job.id = id;
            job.crossesDevice = id.device != device;
            job.parent = listing.handle;
            list_.push_back(std::move(sub));
            work.Add(std::move(job));
        }
    }

    // Whether a folder's parent is the top of a disk, found out once per parent.
    struct ParentTop {
        bool known = false;
        bool top = false;
    };

    // A trash holds no live copies: the user's own trash, and ".Trash" and
    // ".Trash-UID" (any user's) at the top of a disk. Decided here, in
    // breadth-first order, for a subfolder reached for the first time; what
    // is left out is left out with everything below it.
    bool IsTrash(const std::string& parentPath, const FolderListing& parent, ParentTop& parentTop,
                 const std::string& name, const FolderId& id) const
    {
        if (userTrash_ && id == *userTrash_)
            return true;
        if (!IsTopTrashName(name))
            return false;
        if (!parentTop.known) {
            parentTop.top = parent.handle && parent.handle->IsOpen() ? IsMountTop(*parent.handle)
                                                                     : IsMountTop(OpenFolder(parentPath, false));
            parentTop.known = true;
        }
        return parentTop.top;
    }

    // Runs on a worker: opens and lists one collected folder.
    FolderListing ListCollected(FolderJob& job)
    {
        FolderHandle handle;
        if (job.parent && job.parent->IsOpen())
            handle = OpenSubfolder(*job.parent, job.path.substr(job.nameOffset));
        else
            handle = OpenFolder(job.path, false);
        job.parent.reset();  // the parent closes once its last subfolder is open
        if (handle.IsOpen() && IdentifyFolder(handle) != job.id)
            return {};  // something else stands under its name since it was listed
        if (!handle.IsOpen() || (job.crossesDevice && IsPseudoFileSystem(handle)))
            return {};
        FolderListing listing = ListFolderFiles(handle, types_);
        if (!listing.subfolders.empty())
            listing.handle = Hold(std::move(handle));
        return listing;
    }

    // Keeps a folder open for its subfolders while few enough are held.
    std::shared_ptr<const FolderHandle> Hold(FolderHandle handle)
    {
        if (held_.fetch_add(1) >= kMaxHeldFolders) {
            held_.fetch_sub(1);
            return nullptr;
        }
        return std::shared_ptr<const FolderHandle>(new FolderHandle(std::move(handle)), [this](const FolderHandle* h) {
            delete h;
            held_.fetch_sub(1);
        });
    }

    const std::string& target_;
    const TypePatterns& types_;
    int targetError_ = 0;
    Progress& progress_;
    const unsigned threads_;
    std::atomic<int> held_{0};
    std::vector<ScanEntry> list_;
    std::unordered_set<FolderId, FolderIdHash> visited_;
    dev_t rootDevice_ = 0;
    std::optional<FolderId> userTrash_;
};

// One folder of one pass.
struct PassJob {
    const ScanEntry* entry = nullptr;
    int type = 0;
    bool isTarget = false;
};

// The files of one folder that one pass adds, in listing order.
using PassFiles = std::vector<std::pair<std::string, FileFacts>>;

// Runs on a worker: the name and facts of every file of the job's type in its
// folder, as it is now, in listing order. Reads nothing of a folder without
// files of that type, whose names the calling thread may already have let go.
PassFiles FindPassFiles(const PassJob& job)
{
    const ScanEntry& entry = *job.entry;
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << job.type);
    PassFiles found;
    if ((entry.types & bit) == 0)
        return found;
    // The folder that was listed, not whatever its path leads to now: a link
    // put in place of it or of a folder above it leads elsewhere.
    const FolderHandle handle = OpenFolder(entry.path, job.isTarget);
    if (!handle.IsOpen() || IdentifyFolder(handle) != entry.id)
        return found;  // gone or replaced since it was listed
    const char* next = entry.files.names.c_str();
    for (const std::uint8_t tag : entry.files.tags) {
        const std::string_view name(next);  // up to its NUL
        next += name.size() + 1;
        if ((tag & bit) == 0)
            continue;
        const auto facts = StatRegularFile(handle.Fd(), name.data());
        if (!facts)
            continue;  // gone, or no longer a regular file
        found.emplace_back(std::string(name), *facts);
    }
    return found;
}

} // namespace

bool AnyTypeTicked(const SearchOptions& options)
{
    return options.m_bJpeg || options.m_bBmp || options.m_bGif || options.m_bOther;
}

SearchRefusal CheckSearchOptions(const SearchOptions& options)
{
    if (options.m_bOther && options.m_strOtherExt.empty())
        return SearchRefusal::NeedOtherExtension;
    if (!AnyTypeTicked(options))
        return SearchRefusal::NeedFileType;
    return SearchRefusal::None;
}

ScanOutcome ScanFolder(const std::string& target, const SearchOptions& options, FileTable& table, Progress& progress)
{
    if (const SearchRefusal refusal = CheckSearchOptions(options); refusal != SearchRefusal::None)
        return ScanOutcome{refusal, 0, {}, 0};
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
    errno = 0;
    const std::optional<std::string> canonical = CanonicalFolderPath(target);
    const int resolveError = canonical ? 0 : (errno != 0 ? errno : ENOENT);
    const std::string canonicalTarget = canonical.value_or(std::string());
    const unsigned threads = ScanThreadCount();
    Collector collector(canonicalTarget, types, progress, threads);
    std::vector<ScanEntry> scanList = collector.CollectSubfolders();
    const long long j = static_cast<long long>(scanList.size()) - 1;

    table.ClearFileTable();
    // Every listed file of a ticked type, once per type it matches: as many
    // rows as the passes can add, unless files went away since.
    std::size_t listedRows = 0, listedNameBytes = 0;
    for (const ScanEntry& entry : scanList) {
        const char* next = entry.files.names.c_str();
        for (const std::uint8_t tag : entry.files.tags) {
            const std::size_t length = std::char_traits<char>::length(next);
            listedRows += static_cast<std::size_t>(std::popcount(tag));
            listedNameBytes += length * static_cast<std::size_t>(std::popcount(tag));
            next += length + 1;
        }
    }
    table.Reserve(listedRows, listedNameBytes);
    progress.SetRange(0, static_cast<int>(std::min<long long>(j * ticked, INT_MAX)));
    {
        // Workers look at the files of the folders ahead; the rows are added
        // here, folder by folder in pass order.
        const std::size_t window = 64 * std::size_t{threads};
        OrderedWork<PassJob, PassFiles> work(threads, window, &FindPassFiles);
        std::vector<int> passTypes;
        for (int type = 0; type < kTypeCount; ++type) {
            if (types.ticked[type])
                passTypes.push_back(type);
        }
        // Job k: the pass k / (J + 1), the folder J - k % (J + 1).
        const std::size_t perPass = static_cast<std::size_t>(j) + 1;
        const std::size_t jobCount = perPass * passTypes.size();
        const auto jobAt = [&](std::size_t k) {
            const long long index = j - static_cast<long long>(k % perPass);
            return PassJob{&scanList[index], passTypes[k / perPass], index == j};
        };
        // Each folder enters the table's folder list once, with its first row.
        constexpr std::uint32_t kNotInTable = UINT32_MAX;
        std::vector<std::uint32_t> tableFolder(scanList.size(), kNotInTable);
        std::size_t added = 0;
        for (std::size_t next = 0; next < jobCount; ++next) {
            for (; added < jobCount && added < next + 2 * window; ++added)
                work.Add(jobAt(added));
            PassFiles found = work.Next();
            const int type = passTypes[next / perPass];
            const auto index = static_cast<std::size_t>(j - static_cast<long long>(next % perPass));
            ScanEntry& entry = scanList[index];
            if (!found.empty() && tableFolder[index] == kNotInTable)
                tableFolder[index] = table.AddFolder(entry.path);
            for (auto& [name, facts] : found)
                table.AddFoundFile(tableFolder[index], name, facts);
            // A listing no later pass needs gives its memory back now, while
            // the table is still growing. No worker reads it again: later
            // passes skip a folder without files of their type.
            if ((entry.types >> (type + 1)) == 0)
                entry.files = ListedFiles();
            progress.DeltaPos(1);
        }
    }
    std::vector<ScanEntry>().swap(scanList);  // the view needs the room more
    progress.SetPos(0);
    return ScanOutcome{SearchRefusal::None, table.RowCount(), canonicalTarget,
                       resolveError != 0 ? resolveError : collector.TargetError()};
}

} // namespace snapsift
