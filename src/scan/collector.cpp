// SPDX-License-Identifier: MIT
#include "scan/collector.h"

#include "platform/progress.h"
#include "scan/uring_queue.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <utility>

namespace snapsift {

namespace {

std::mutex g_hooksMutex;
ScanHooks g_hooks;

ScanHooks CurrentHooks()
{
    const std::lock_guard lock(g_hooksMutex);
    return g_hooks;
}

int ClampToInt(std::size_t value)
{
    return static_cast<int>(std::min<std::size_t>(value, INT_MAX));
}

// The listing of an open folder, the way the walk asks the disk. Left to
// itself (Auto), the walk makes its requests one by one while listings find
// everything in the cache, and sets up a ring for a thread only once
// listings wait on the disk (`waiting`).
FolderListing ListOpenFolder(const FolderHandle& handle, const WalkContext& context, const std::string& relative,
                             bool waiting)
{
    if (context.io == ScanIo::Threads || (context.io == ScanIo::Auto && !waiting))
        return ListFolderFiles(handle, context.types);
    // Each thread's ring lets 8 of its requests wait on the disk at once: with
    // 32 threads, 256 in flight, which took a 1 ms share as fast as 1,024 did
    // with half the kernel's threads.
    constexpr unsigned kWaitingPerRing = 8;
    thread_local std::optional<UringQueue> queue;
    if (!queue) {
        queue.emplace();
        queue->AllowWaiting(kWaitingPerRing);
    }
    if (!queue->Ready())
        return ListFolderFiles(handle, context.types);
    return ListFolderQueued(handle, context, *queue, true, &relative);
}

// Opens the collected folder from its parent's open descriptor, or from the
// target, and never through a link: a folder that became a link after its
// parent was listed is not entered. One that its parent's listing opened
// already is taken as it is.
FolderHandle OpenCollected(const WalkContext& context, FolderJob& job, const std::string& relative)
{
    if (context.hooks.beforeOpening && !job.hookCalled)
        context.hooks.beforeOpening(relative);
    if (job.parent && job.parent->IsOpen())
        return OpenSubfolder(*job.parent, job.path.substr(job.nameOffset));
    return OpenFolderBeneath(context.target, relative);
}

// Runs on a worker: opens and lists one collected folder. Which folder it is
// is found out once, from the descriptor that is then listed, so that what is
// listed is what the identity says. The folders a search never enters by
// their identity, and kernel file systems, are not listed.
FolderListing ListCollected(const std::shared_ptr<WalkContext>& context, FolderJob& job, bool waiting)
{
    const std::string relative = job.path.substr(job.relativeOffset);
    HeldFolder opened = std::move(job.opened);
    FolderHandle own;
    if (!opened)
        own = OpenCollected(*context, job, relative);
    job.parent.reset();  // the parent closes once its last subfolder is open
    const FolderHandle& handle = opened ? *opened : own;
    const std::optional<FileIdentity> id = IdentifyFolder(handle);
    if (!id)
        return {};  // gone, or no longer a folder
    FolderListing listing;
    listing.id = *id;
    listing.skipped = context->skipped.SkipsByIdentity(*id);
    if (listing.skipped || (id->device != job.parentDevice && IsPseudoFileSystem(handle)))
        return listing;
    listing = ListOpenFolder(handle, *context, relative, waiting);
    listing.id = *id;
    if (!listing.subfolders.empty())
        listing.handle = opened ? std::move(opened) : context->Hold(std::move(own));
    return listing;
}

// The job that lists the subfolder `sub` of the folder at `parentPath`,
// which `parent` holds open when at hand.
FolderJob JobFor(const std::string& parentPath, std::size_t relativeOffset, std::uint64_t parentDevice,
                 ListedSubfolder& sub, const HeldFolder& parent)
{
    FolderJob job;
    job.path = JoinPath(parentPath, sub.name);
    job.relativeOffset = relativeOffset;
    job.nameOffset = job.path.size() - sub.name.size();
    job.parentDevice = parentDevice;
    job.opened = std::move(sub.opened);
    if (!job.opened)
        job.parent = parent;
    job.hookCalled = sub.hookCalled;
    return job;
}

// While the cache answers, the worker that listed a folder goes on into its
// subfolders, breadth-first, up to kFoldersAhead folders: on a warm cache a
// folder takes a few system calls, fewer than handing it to another thread
// and its listing back would cost. It stops at the first folder that took
// long enough to have waited on the disk, so that a cold disk gets its
// folders spread over the threads again. What it lists is taken later, in
// the walk's own order, as if a worker had listed it then; which folders
// are left out by name, and which were reached before, is decided there.
void ListAhead(const std::shared_ptr<WalkContext>& context, const FolderJob& job, FolderListing& listing,
               std::chrono::steady_clock::time_point start)
{
    constexpr std::size_t kFoldersAhead = 48;
    auto now = std::chrono::steady_clock::now();
    if (context->hooks.holdNoFolder || now - start >= kLeastWait)
        return;
    struct Listed {
        std::string path;
        FolderListing* listing;
    };
    std::deque<Listed> queue{{job.path, &listing}};
    std::size_t budget = kFoldersAhead;
    while (!queue.empty() && budget > 0) {
        const Listed parent = queue.front();
        queue.pop_front();
        if (!parent.listing->handle)
            continue;  // its subfolders open from the target, one by one, as jobs
        SkippedFolders::ParentTop parentTop;
        for (ListedSubfolder& sub : parent.listing->subfolders) {
            if (budget == 0)
                return;
            if (context->skipped.SkipsByName(parent.path, parent.listing->handle.get(), parentTop, sub.name))
                continue;
            FolderJob childJob =
                JobFor(parent.path, job.relativeOffset, parent.listing->id.device, sub, parent.listing->handle);
            start = now;
            sub.listed = std::make_shared<FolderListing>(ListCollected(context, childJob, false));
            --budget;
            now = std::chrono::steady_clock::now();
            if (now - start >= kLeastWait)
                return;
            if (!sub.listed->skipped && !sub.listed->subfolders.empty())
                queue.push_back({std::move(childJob.path), sub.listed.get()});
        }
    }
}

// Runs on a worker: one collected folder, and on a warm cache a few below it.
FolderListing ListCollectedAndAhead(const std::shared_ptr<WalkContext>& context, FolderJob& job, bool waiting)
{
    const auto start = std::chrono::steady_clock::now();
    FolderListing listing = ListCollected(context, job, waiting);
    if (!waiting && context->io != ScanIo::Uring && !listing.skipped && !listing.subfolders.empty())
        ListAhead(context, job, listing, start);
    return listing;
}

}  // namespace

void SetScanHooks(ScanHooks hooks)
{
    const std::lock_guard lock(g_hooksMutex);
    g_hooks = std::move(hooks);
}

Collector::Collector(const std::string& target, const TypePatterns& types, Progress& progress,
                     const std::stop_token& stop, std::atomic<bool>* walking)
    : target_(target)
    , progress_(progress)
    , reads_(ScanReadsInFlight())
    , stop_(stop)
    , walking_(walking)
    , context_(std::make_shared<WalkContext>())
{
    context_->types = types;
    context_->targetPath = target;
    context_->hooks = CurrentHooks();
    context_->skipped = SkippedFolders::ForThisUser();
    // Where the kernel gives no io_uring, the walk asks one call at a time;
    // left to itself, it finds that out only when it first needs a ring.
    context_->io = ScanIoChosen();
    if (context_->io == ScanIo::Uring && !UringQueue::Available())
        context_->io = ScanIo::Threads;
    relativeOffset_ = target_ == "/" ? 1 : target_.size() + 1;
}

// Opens and lists the target on this thread; its subfolders are left to the
// workers, and the hooks are not called for them here.
FolderListing Collector::ListTarget(ScanEntry& root)
{
    root.path = target_;
    errno = 0;
    FolderHandle rootHandle = OpenFolder(target_);
    if (!rootHandle.IsOpen())
        targetError_ = errno != 0 ? errno : ENOENT;
    if (!rootHandle.IsOpen() || IsPseudoFileSystem(rootHandle) || context_->skipped.SkipsTarget(target_, rootHandle))
        return {};
    if (const auto id = IdentifyFolder(rootHandle)) {
        root.id = *id;
        visited_.insert(*id);
    }
    bool readable = true;
    errno = 0;
    FolderListing listing;
    listing = ListFolderFiles(rootHandle, context_->types, &readable);
    if (!readable)
        targetError_ = errno != 0 ? errno : EIO;
    context_->target = FolderHandle(fcntl(rootHandle.Fd(), F_DUPFD_CLOEXEC, 0));
    listing.handle = context_->Hold(std::move(rootHandle));
    return listing;
}

std::vector<ScanEntry> Collector::CollectSubfolders()
{
    ScanEntry root;
    FolderListing rootListing = ListTarget(root);
    Work work(reads_, 4 * std::size_t{reads_.most}, [context = context_](FolderJob& job, bool waiting) {
        return ListCollectedAndAhead(context, job, waiting);
    });
    if (walking_)
        *walking_ = true;
    root.files = std::move(rootListing.files);
    root.types = TypesOf(root.files);
    AddSubfolders(work, target_, root.id.device, rootListing);
    rootListing = FolderListing();
    progress_.FolderListed(1, static_cast<long long>(list_.size()) + 1);
    const int n = static_cast<int>(list_.size());
    progress_.SetRange(0, n);
    std::size_t i = 0;
    while (n > 0 && i < list_.size()) {
        std::optional<FolderListing> listing;
        if (!list_[i].listed)
            listing = work.Next(stop_);
        else if (!stop_.stop_requested())
            listing = std::move(*std::exchange(list_[i].listed, nullptr));
        if (!listing) {
            stopped_ = true;
            work.Abandon();
            break;
        }
        if (!Take(work, i, *listing))
            continue;
        progress_.DeltaPos(ClampToInt(list_.size()));
        progress_.FolderListed(static_cast<long long>(i) + 2, static_cast<long long>(list_.size()) + 1);
        ++i;
    }
    list_.resize(i);  // folders not listed yet, once stopped, add nothing
    progress_.SetPos(0);
    list_.push_back(std::move(root));
    return std::move(list_);
}

// Takes the listing of the folder list_[i]. A folder reached before by
// another way (a bind mount, a loop), or one that its identity leaves out,
// leaves the list with everything below it: false.
bool Collector::Take(Work& work, std::size_t i, FolderListing& listing)
{
    ScanEntry& entry = list_[i];
    if (listing.id.Known()) {
        if (!visited_.insert(listing.id).second || listing.skipped) {
            list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(i));
            return false;
        }
        entry.id = listing.id;
    }
    entry.files = std::move(listing.files);
    entry.types = TypesOf(entry.files);
    const std::string path = entry.path;  // list_ grows below
    AddSubfolders(work, path, entry.id.device, listing);
    return true;
}

// Appends the subfolders of a listed folder in listing order, and hands
// them to the workers. Those that their name and place leave out are left
// out here, in breadth-first order, with everything below them.
void Collector::AddSubfolders(Work& work, const std::string& path, std::uint64_t device, FolderListing& listing)
{
    SkippedFolders::ParentTop parentTop;
    std::vector<FolderJob> jobs;
    jobs.reserve(listing.subfolders.size());
    for (ListedSubfolder& sub : listing.subfolders) {
        if (context_->skipped.SkipsByName(path, listing.handle.get(), parentTop, sub.name))
            continue;
        ScanEntry entry;
        if (sub.listed) {
            entry.path = JoinPath(path, sub.name);
            entry.listed = std::move(sub.listed);
        } else {
            FolderJob job = JobFor(path, relativeOffset_, device, sub, listing.handle);
            entry.path = job.path;
            jobs.push_back(std::move(job));
        }
        list_.push_back(std::move(entry));
    }
    work.Add(jobs);
}

}  // namespace snapsift
