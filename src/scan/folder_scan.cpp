// SPDX-License-Identifier: MIT
#include "scan/folder_scan.h"

#include "platform/file_system.h"
#include "platform/memory.h"
#include "platform/progress.h"
#include "scan/file_table.h"
#include "scan/name_pattern.h"
#include "scan/parallel_walk.h"
#include "scan/skipped_folders.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <memory>
#include <mutex>
#include <fcntl.h>
#include <optional>
#include <span>
#include <unistd.h>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace snapsift {

namespace {

// One pass: the files it adds, by a pattern ("*.jpg") or by the endings of a
// picture type. Bit p of a file's tag says it belongs to pass p.
struct Pass {
    std::string pattern;
    std::span<const std::string_view> extensions;  // used when not empty; lower case, no dot
};

// At most this many passes: the four, every picture type and the further extensions.
constexpr std::size_t kMostPasses = 4 + kPictureKindCount + kMostMoreExtensions;
static_assert(kMostPasses <= 32, "a file's tag has a bit per pass");

struct TypePatterns {
    std::vector<Pass> passes;  // the ticked ones, in pass order
};

// Whether the name's ending after its last dot is one of `extensions`,
// letters compared without case.
bool EndsWithOneOf(std::string_view name, std::span<const std::string_view> extensions)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    const std::string_view ending = name.substr(dot + 1);
    for (const std::string_view extension : extensions) {
        if (extension.size() == ending.size() && MatchesNamePattern(ending, extension))
            return true;
    }
    return false;
}

std::uint32_t MatchTypes(std::string_view name, const void* context)
{
    const auto& types = *static_cast<const TypePatterns*>(context);
    std::uint32_t mask = 0;
    for (std::size_t p = 0; p < types.passes.size(); ++p) {
        const Pass& pass = types.passes[p];
        if (pass.extensions.empty() ? MatchesNamePattern(name, pass.pattern) : EndsWithOneOf(name, pass.extensions))
            mask |= std::uint32_t{1} << p;
    }
    return mask;
}

// The files of a folder that match a ticked type, with their facts as the
// listing found them, kept until the pass that adds them: their names one
// after another, each ended by a NUL (no file name holds one), and what
// MatchTypes said of each and its facts, in the same order.
struct ListedFiles {
    std::string names;
    std::vector<std::uint32_t> tags;
    std::vector<FileFacts> facts;
};

// A folder of the scan list with the files in it that match a ticked type.
struct ScanEntry {
    std::string path;
    FolderId id;
    std::uint32_t types = 0;     // every tag of `files` together; fixed once collected
    ListedFiles files;
};

// A folder to list, with everything a worker needs to list it.
struct FolderJob {
    std::string path;
    std::size_t relativeOffset = 0;  // where the path below the target starts in `path`
    std::size_t nameOffset = 0;      // where the folder's own name starts in `path`
    FolderId id;                     // what its parent's listing said it is
    bool crossesDevice = false;      // on another file system than its parent
    std::shared_ptr<const FolderHandle> parent;  // the parent, still open, when at hand
};

// What listing one folder gave.
struct FolderListing {
    ListedFiles files;
    std::vector<std::pair<std::string, FolderId>> subfolders;  // in listing order
    std::shared_ptr<const FolderHandle> handle;  // kept open for its subfolders, when at hand
};

// Folders kept open so that their subfolders need not be opened from the top:
// a deep tree costs one step per level, not one walk from the top per folder.
// Wide levels fall back to opening from the target once this many are held.
constexpr int kMaxHeldFolders = 256;

std::mutex g_hooksMutex;
ScanHooks g_hooks;

// Lists an open folder and takes the facts of each file of a ticked type
// while the folder is open. A file gone or turned into something else
// between the listing and its facts is left out.
FolderListing ListFolderFiles(const FolderHandle& handle, const TypePatterns& types, bool* readable = nullptr)
{
    std::vector<ListedEntry> listed;
    const bool ok = ListFolder(handle, listed, &MatchTypes, &types);
    if (readable)
        *readable = ok;
    FolderListing out;
    std::size_t nameBytes = 0, fileCount = 0;
    for (const ListedEntry& e : listed) {
        if (e.kind == EntryKind::RegularFile) {
            nameBytes += e.name.size() + 1;
            ++fileCount;
        }
    }
    out.files.names.reserve(nameBytes);
    out.files.tags.reserve(fileCount);
    out.files.facts.reserve(fileCount);
    out.subfolders.reserve(listed.size() - fileCount);
    for (ListedEntry& e : listed) {
        if (e.kind != EntryKind::RegularFile) {
            out.subfolders.emplace_back(std::move(e.name), e.id);
            continue;
        }
        const auto facts = StatRegularFile(handle.Fd(), e.name.c_str());
        if (!facts)
            continue;  // gone, or no longer a regular file
        out.files.names.append(e.name.c_str(), e.name.size() + 1);
        out.files.tags.push_back(e.tag);
        out.files.facts.push_back(*facts);
    }
    return out;
}

std::uint32_t TypesOf(const ListedFiles& files)
{
    std::uint32_t types = 0;
    for (const std::uint32_t tag : files.tags)
        types |= tag;
    return types;
}

// What the workers share with each other, and with nobody else: the pool may
// outlive the search that stopped it, and everything it reads with it.
struct WalkContext {
    TypePatterns types;
    FolderHandle target;  // open for the whole walk, for folders whose parent is not held
    ScanHooks hooks;
    std::atomic<int> held{0};
};

// Keeps a folder open for its subfolders while few enough are held.
std::shared_ptr<const FolderHandle> Hold(const std::shared_ptr<WalkContext>& context, FolderHandle handle)
{
    if (context->hooks.holdNoFolder || context->held.fetch_add(1) >= kMaxHeldFolders) {
        if (!context->hooks.holdNoFolder)
            context->held.fetch_sub(1);
        return nullptr;
    }
    return std::shared_ptr<const FolderHandle>(new FolderHandle(std::move(handle)),
                                               [context](const FolderHandle* h) {
                                                   delete h;
                                                   context->held.fetch_sub(1);
                                               });
}

// Runs on a worker: opens and lists one collected folder. The folder is
// opened from its parent's open descriptor, or from the target, and never
// through a link: a folder that became a link after its parent was listed is
// not entered, nor is one that something else has replaced.
FolderListing ListCollected(const std::shared_ptr<WalkContext>& context, FolderJob& job)
{
    const std::string relative = job.path.substr(job.relativeOffset);
    if (context->hooks.beforeOpening)
        context->hooks.beforeOpening(relative);
    FolderHandle handle;
    if (job.parent && job.parent->IsOpen())
        handle = OpenSubfolder(*job.parent, job.path.substr(job.nameOffset));
    else
        handle = OpenFolderBeneath(context->target, relative);
    job.parent.reset();  // the parent closes once its last subfolder is open
    if (!handle.IsOpen() || IdentifyFolder(handle) != job.id)
        return {};  // gone, or something else stands under its name since it was listed
    if (job.crossesDevice && IsPseudoFileSystem(handle))
        return {};
    FolderListing listing = ListFolderFiles(handle, context->types);
    if (!listing.subfolders.empty())
        listing.handle = Hold(context, std::move(handle));
    return listing;
}

class Collector final {
public:
    Collector(const std::string& target, const TypePatterns& types, Progress& progress, ReadsInFlight reads,
              std::stop_token stop, std::atomic<bool>* walking)
        : target_(target), progress_(progress), reads_(reads), stop_(std::move(stop)), walking_(walking),
          context_(std::make_shared<WalkContext>()), skipped_(SkippedFolders::ForThisUser())
    {
        context_->types = types;
        {
            const std::lock_guard lock(g_hooksMutex);
            context_->hooks = g_hooks;
        }
        relativeOffset_ = target_ == "/" ? 1 : target_.size() + 1;
    }

    // Why the target could not be opened or read, or 0.
    int TargetError() const { return targetError_; }
    bool Stopped() const { return stopped_; }

    // Lists the target and, breadth-first, every folder below it. Returns the
    // scan list with the target stored last.
    //
    // Workers list the folders in any order, several at a time; this thread
    // takes their listings in scan-list order and alone decides which
    // subfolders are new, so the list, the folders left out as reached twice
    // and the progress steps are those of listing one folder after another.
    // Once stopped, the list ends with the last folder whose listing was taken.
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
            if (rootHandle.IsOpen() && !IsPseudoFileSystem(rootHandle) &&
                !skipped_.SkipsTarget(target_, rootHandle)) {
                if (const auto id = IdentifyFolder(rootHandle)) {
                    root.id = *id;
                    rootDevice_ = id->device;
                    visited_.insert(*id);
                }
                bool readable = true;
                errno = 0;
                rootListing = ListFolderFiles(rootHandle, context_->types, &readable);
                if (!readable)
                    targetError_ = errno != 0 ? errno : EIO;
                context_->target = FolderHandle(fcntl(rootHandle.Fd(), F_DUPFD_CLOEXEC, 0));
                rootListing.handle = Hold(context_, std::move(rootHandle));
            }
        }
        OrderedWork<FolderJob, FolderListing> work(
            reads_, 4 * std::size_t{reads_.most},
            [context = context_](FolderJob& job) { return ListCollected(context, job); });
        if (walking_)
            *walking_ = true;
        root.files = std::move(rootListing.files);
        root.types = TypesOf(root.files);
        AddSubfolders(work, target_, rootDevice_, rootListing);
        rootListing = FolderListing();
        progress_.FolderListed(1, static_cast<long long>(list_.size()) + 1);
        const int n = static_cast<int>(list_.size());
        progress_.SetRange(0, n);
        std::size_t i = 0;
        for (; n > 0 && i < list_.size(); ++i) {
            std::optional<FolderListing> listing = work.Next(stop_);
            if (!listing) {
                stopped_ = true;
                work.Abandon();
                break;
            }
            ScanEntry& entry = list_[i];
            entry.files = std::move(listing->files);
            entry.types = TypesOf(entry.files);
            const std::string path = entry.path;  // list_ grows below
            AddSubfolders(work, path, entry.id.device, *listing);
            progress_.DeltaPos(ClampToInt(list_.size()));
            progress_.FolderListed(static_cast<long long>(i) + 2, static_cast<long long>(list_.size()) + 1);
        }
        list_.resize(i);  // folders not listed yet, once stopped, add nothing
        progress_.SetPos(0);
        list_.push_back(std::move(root));
        return std::move(list_);
    }

private:
    static int ClampToInt(std::size_t value) { return static_cast<int>(std::min<std::size_t>(value, INT_MAX)); }

    // Appends the subfolders of a listed folder that are reached here first,
    // in listing order, and hands each to the workers.
    void AddSubfolders(OrderedWork<FolderJob, FolderListing>& work, const std::string& path, dev_t device,
                       const FolderListing& listing)
    {
        SkippedFolders::ParentTop parentTop;
        for (const auto& [name, id] : listing.subfolders) {
            if (!visited_.insert(id).second)
                continue;  // already reached another way
            // Decided here, in breadth-first order, for a subfolder reached
            // for the first time; what is left out is left out with
            // everything below it.
            if (skipped_.Skips(path, listing.handle.get(), parentTop, name, id))
                continue;
            ScanEntry sub;
            sub.path = JoinPath(path, name);
            sub.id = id;
            FolderJob job;
            job.path = sub.path;
            job.relativeOffset = relativeOffset_;
            job.nameOffset = sub.path.size() - name.size();
            job.id = id;
            job.crossesDevice = id.device != device;
            job.parent = listing.handle;
            list_.push_back(std::move(sub));
            work.Add(std::move(job));
        }
    }

    const std::string& target_;
    Progress& progress_;
    const ReadsInFlight reads_;
    const std::stop_token stop_;
    std::atomic<bool>* const walking_;
    std::shared_ptr<WalkContext> context_;
    std::size_t relativeOffset_ = 0;
    std::vector<ScanEntry> list_;
    std::unordered_set<FolderId, FolderIdHash> visited_;
    dev_t rootDevice_ = 0;
    const SkippedFolders skipped_;
    int targetError_ = 0;
    bool stopped_ = false;
};

} // namespace

void SetScanHooks(ScanHooks hooks)
{
    const std::lock_guard lock(g_hooksMutex);
    g_hooks = std::move(hooks);
}

bool AnyTypeTicked(const SearchOptions& options)
{
    return options.m_bJpeg || options.m_bBmp || options.m_bGif || options.m_bOther || !options.pictureKinds.Empty() ||
           !options.moreExtensions.empty();
}

SearchRefusal CheckSearchOptions(const SearchOptions& options)
{
    if (options.m_bOther && options.m_strOtherExt.empty())
        return SearchRefusal::NeedOtherExtension;
    for (const std::string& extension : options.moreExtensions) {
        if (extension.empty())
            return SearchRefusal::NeedOtherExtension;
    }
    if (!AnyTypeTicked(options))
        return SearchRefusal::NeedFileType;
    return SearchRefusal::None;
}

namespace {

// A typed extension's pattern. An extension of stars alone matches every
// file, also one without a dot, as "*.*" does where the search comes from.
std::string ExtensionPattern(const std::string& extension)
{
    return extension.find_first_not_of('*') == std::string::npos ? std::string("*") : "*." + extension;
}

// The passes of the ticked and chosen types, in pass order.
TypePatterns PassesOf(const SearchOptions& options)
{
    TypePatterns types;
    const std::pair<bool, std::string> four[] = {{options.m_bJpeg, "*.jpg"},
                                                 {options.m_bBmp, "*.bmp"},
                                                 {options.m_bGif, "*.gif"},
                                                 {options.m_bOther, ExtensionPattern(options.m_strOtherExt)}};
    for (const auto& [ticked, pattern] : four) {
        if (ticked)
            types.passes.push_back({pattern, {}});
    }
    for (const PictureKind kind : options.pictureKinds.InOrder())
        types.passes.push_back({{}, PictureTypeOf(kind).extensions});
    for (std::size_t i = 0; i < options.moreExtensions.size() && i < kMostMoreExtensions; ++i)
        types.passes.push_back({ExtensionPattern(options.moreExtensions[i]), {}});
    return types;
}

} // namespace

ScanOutcome ScanFolder(const std::string& target, const SearchOptions& options, FileTable& table, Progress& progress,
                       std::stop_token stop, std::atomic<bool>* walking)
{
    if (const SearchRefusal refusal = CheckSearchOptions(options); refusal != SearchRefusal::None)
        return ScanOutcome{refusal, 0, {}, 0};
    const TypePatterns types = PassesOf(options);
    const int ticked = static_cast<int>(types.passes.size());

    // Every row's path starts with the target's canonical path, so that the
    // path shown, checked, logged and handed to the trash names one file. A
    // target that cannot be resolved safely is searched as an empty one.
    errno = 0;
    const std::optional<std::string> resolved = CanonicalFolderPath(target);
    const int resolveError = errno != 0 ? errno : ENOENT;
    const std::string canonicalTarget = resolved.value_or(std::string());
    Collector collector(canonicalTarget, types, progress, ScanReadsInFlight(), stop, walking);
    std::vector<ScanEntry> scanList = collector.CollectSubfolders();
    const long long j = static_cast<long long>(scanList.size()) - 1;

    table.ClearFileTable();
    // Every listed file of a ticked type, once per type it matches: as many
    // rows as the passes add.
    std::size_t listedRows = 0, listedNameBytes = 0;
    for (const ScanEntry& entry : scanList) {
        const char* next = entry.files.names.c_str();
        for (const std::uint32_t tag : entry.files.tags) {
            const std::size_t length = std::char_traits<char>::length(next);
            listedRows += static_cast<std::size_t>(std::popcount(tag));
            listedNameBytes += length * static_cast<std::size_t>(std::popcount(tag));
            next += length + 1;
        }
    }
    table.Reserve(listedRows, listedNameBytes);
    progress.SetRange(0, static_cast<int>(std::min<long long>(j * ticked, INT_MAX)));
    // The passes only put the listed files in order: each type in turn, each
    // visiting the target first and then the other folders from the last
    // collected to the first. Each folder enters the table's folder list
    // once, with its first row.
    constexpr std::uint32_t kNotInTable = UINT32_MAX;
    std::vector<std::uint32_t> tableFolder(scanList.size(), kNotInTable);
    // Stopped while listing, the passes still put what was listed in order;
    // stopped later, they end where they are.
    const bool stoppedWhileListing = collector.Stopped();
    constexpr std::size_t kReturnEvery = std::size_t{16} << 20;
    std::size_t freedBytes = 0;
    bool stopped = stoppedWhileListing;
    for (int pass = 0; pass < ticked && (stoppedWhileListing || !stopped); ++pass) {
        const std::uint32_t bit = std::uint32_t{1} << pass;
        for (long long index = j; index >= 0; --index) {
            if (!stoppedWhileListing && stop.stop_requested()) {
                stopped = true;
                break;
            }
            ScanEntry& entry = scanList[static_cast<std::size_t>(index)];
            if ((entry.types & bit) != 0) {
                const char* next = entry.files.names.c_str();
                for (std::size_t k = 0; k < entry.files.tags.size(); ++k) {
                    const std::string_view name(next);  // up to its NUL
                    next += name.size() + 1;
                    if ((entry.files.tags[k] & bit) == 0)
                        continue;
                    if (tableFolder[index] == kNotInTable)
                        tableFolder[index] = table.AddFolder(entry.path);
                    table.AddFoundFile(tableFolder[index], name, entry.files.facts[k]);
                }
            }
            // A listing no later pass needs gives its memory back now, while
            // the table is still growing: to the system, every few MiB, as
            // the table's room comes from elsewhere.
            if ((std::uint64_t{entry.types} >> (pass + 1)) == 0 && entry.files.names.capacity() > 0) {
                freedBytes += entry.files.names.capacity() + entry.files.tags.capacity() +
                              entry.files.facts.capacity() * sizeof(FileFacts);
                entry.files = ListedFiles();
                if (freedBytes >= kReturnEvery) {
                    ReturnFreeMemory();
                    freedBytes = 0;
                }
            }
            progress.DeltaPos(1);
        }
    }
    std::vector<ScanEntry>().swap(scanList);  // the view needs the room more
    progress.SetPos(0);
    ScanOutcome outcome{SearchRefusal::None, table.RowCount(), canonicalTarget,
                        resolved ? collector.TargetError() : resolveError};
    outcome.stopped = stopped;
    return outcome;
}

} // namespace snapsift
