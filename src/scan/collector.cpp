// SPDX-License-Identifier: MIT
#include "scan/collector.h"

#include "platform/progress.h"
#include "scan/uring_queue.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <mutex>
#include <optional>

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
// itself (Auto), a thread makes its requests one by one while its listings
// find everything in the cache, and through io_uring for its next folders
// once a listing has waited on the disk.
FolderListing ListOpenFolder(const FolderHandle& handle, const WalkContext& context, const std::string& relative,
                             unsigned waiting)
{
    if (context.io == ScanIo::Threads)
        return ListFolderFiles(handle, context.types);
    constexpr int kRingFolders = 64;
    thread_local UringQueue queue;
    thread_local int ringFolders = 0;
    queue.AllowWaiting(waiting);
    const auto start = std::chrono::steady_clock::now();
    const ThreadUse before = CurrentThreadUse();
    const bool ring = queue.Ready() && (context.io == ScanIo::Uring || ringFolders > 0);
    FolderListing listing = ListFolderQueued(handle, context, queue, ring, &relative);
    if (WaitedOnDisk(std::chrono::steady_clock::now() - start, before, CurrentThreadUse()))
        ringFolders = kRingFolders;
    else if (ringFolders > 0)
        --ringFolders;
    return listing;
}

// Runs on a worker: opens and lists one collected folder. The folder is
// opened from its parent's open descriptor, or from the target, and never
// through a link: a folder that became a link after its parent was listed is
// not entered, nor is one that something else has replaced. One that its
// parent's listing opened already is taken as it is, with the same checks.
FolderListing ListCollected(const std::shared_ptr<WalkContext>& context, FolderJob& job, unsigned waiting)
{
    const std::string relative = job.path.substr(job.relativeOffset);
    HeldFolder opened = std::move(job.opened);
    FolderHandle own;
    if (!opened) {
        if (context->hooks.beforeOpening && !job.hookCalled)
            context->hooks.beforeOpening(relative);
        if (job.parent && job.parent->IsOpen())
            own = OpenSubfolder(*job.parent, job.path.substr(job.nameOffset));
        else
            own = OpenFolderBeneath(context->target, relative);
    }
    job.parent.reset();  // the parent closes once its last subfolder is open
    const FolderHandle& handle = opened ? *opened : own;
    if (!handle.IsOpen() || IdentifyFolder(handle) != job.id)
        return {};  // gone, or something else stands under its name since it was listed
    if (job.crossesDevice && IsPseudoFileSystem(handle))
        return {};
    FolderListing listing = ListOpenFolder(handle, *context, relative, waiting);
    if (!listing.subfolders.empty())
        listing.handle = opened ? std::move(opened) : context->Hold(std::move(own));
    return listing;
}

}  // namespace

void SetScanHooks(ScanHooks hooks)
{
    const std::lock_guard lock(g_hooksMutex);
    g_hooks = std::move(hooks);
}

Collector::Collector(const std::string& target, const TypePatterns& types, Progress& progress, std::stop_token stop,
                     std::atomic<bool>* walking)
    : target_(target)
    , progress_(progress)
    , reads_(ScanReadsInFlight())
    , stop_(std::move(stop))
    , walking_(walking)
    , context_(std::make_shared<WalkContext>())
    , skipped_(SkippedFolders::ForThisUser())
{
    context_->types = types;
    context_->hooks = CurrentHooks();
    // Where the kernel gives no io_uring, the walk asks one call at a time.
    context_->io = ScanIoChosen() == ScanIo::Threads || !UringQueue::Available() ? ScanIo::Threads : ScanIoChosen();
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
    if (!rootHandle.IsOpen() || IsPseudoFileSystem(rootHandle) || skipped_.SkipsTarget(target_, rootHandle))
        return {};
    if (const auto id = IdentifyFolder(rootHandle)) {
        root.id = *id;
        rootDevice_ = id->device;
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
    // Each thread's ring lets 8 of its requests wait on the disk at once: with
    // 32 threads, 256 in flight, which took a 1 ms share as fast as 1,024 did
    // with half the kernel's threads.
    constexpr unsigned kWaitingPerRing = 8;
    Work work(reads_, 4 * std::size_t{reads_.most},
              [context = context_](FolderJob& job) { return ListCollected(context, job, kWaitingPerRing); });
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

// Appends the subfolders of a listed folder that are reached here first, in
// listing order, and hands each to the workers.
void Collector::AddSubfolders(Work& work, const std::string& path, dev_t device, FolderListing& listing)
{
    SkippedFolders::ParentTop parentTop;
    for (ListedSubfolder& sub : listing.subfolders) {
        if (!visited_.insert(sub.id).second)
            continue;  // already reached another way
        // Decided here, in breadth-first order, for a subfolder reached for
        // the first time; what is left out is left out with everything below it.
        if (skipped_.Skips(path, listing.handle.get(), parentTop, sub.name, sub.id))
            continue;
        ScanEntry entry;
        entry.path = JoinPath(path, sub.name);
        entry.id = sub.id;
        FolderJob job;
        job.path = entry.path;
        job.relativeOffset = relativeOffset_;
        job.nameOffset = entry.path.size() - sub.name.size();
        job.id = sub.id;
        job.crossesDevice = sub.id.device != device;
        job.opened = std::move(sub.opened);
        if (!job.opened)
            job.parent = listing.handle;
        job.hookCalled = sub.hookCalled;
        list_.push_back(std::move(entry));
        work.Add(std::move(job));
    }
}

}  // namespace snapsift
