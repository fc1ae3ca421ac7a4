// SPDX-License-Identifier: MIT
#pragma once

#include "scan/folder_listing.h"
#include "scan/open_folders.h"
#include "scan/parallel_walk.h"
#include "scan/skipped_folders.h"

#include <atomic>
#include <memory>
#include <stop_token>
#include <string>
#include <unordered_set>
#include <vector>

namespace snapsift {

class Progress;

// A folder of the scan list with the files in it that match a ticked type.
struct ScanEntry {
    std::string path;
    FileIdentity id;          // unknown when it could not be opened
    std::uint32_t types = 0;  // every tag of `files` together; fixed once collected
    ListedFiles files;
    // Its listing, made ahead by the worker that listed its parent, until taken.
    std::shared_ptr<FolderListing> listed;
};

// A folder to list, with everything a worker needs to list it.
struct FolderJob {
    std::string path;
    std::size_t relativeOffset = 0;  // where the path below the target starts in `path`
    std::size_t nameOffset = 0;      // where the folder's own name starts in `path`
    std::uint64_t parentDevice = 0;  // the device of its parent
    HeldFolder parent;               // the parent, still open, when at hand
    HeldFolder opened;               // the folder itself, when its parent's listing opened it
    bool hookCalled = false;         // the hook was called when its parent's listing tried to open it
};

// Lists the target and, breadth-first, every folder below it, on a pool of
// threads, into the scan list.
class Collector final {
public:
    Collector(const std::string& target, const TypePatterns& types, Progress& progress, const std::stop_token& stop,
              std::atomic<bool>* walking);

    // Why the target could not be opened or read, or 0.
    int TargetError() const { return targetError_; }
    bool Stopped() const { return stopped_; }

    // Returns the scan list with the target stored last.
    //
    // Workers list the folders in any order, several at a time; this thread
    // takes their listings in scan-list order and alone decides which
    // folders are new, so the list, the folders left out as reached twice
    // and the progress steps are those of listing one folder after another.
    // Once stopped, the list ends with the last folder whose listing was taken.
    std::vector<ScanEntry> CollectSubfolders();

private:
    using Work = OrderedWork<FolderJob, FolderListing>;

    FolderListing ListTarget(ScanEntry& root);
    bool Take(Work& work, std::size_t i, FolderListing& listing);
    void AddSubfolders(Work& work, const std::string& path, std::uint64_t device, FolderListing& listing);

    const std::string& target_;
    Progress& progress_;
    const ReadsInFlight reads_;
    const std::stop_token stop_;
    std::atomic<bool>* const walking_;
    std::shared_ptr<WalkContext> context_;
    std::size_t relativeOffset_ = 0;
    std::vector<ScanEntry> list_;
    std::unordered_set<FileIdentity, FileIdentityHash> visited_;
    int targetError_ = 0;
    bool stopped_ = false;
};

}  // namespace snapsift
