// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_system.h"
#include "scan/open_folders.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace snapsift {

class UringQueue;
struct FolderListing;

// The files of a folder that match a ticked type, with their facts as the
// listing found them, kept until the pass that adds them: their names one
// after another, each ended by a NUL (no file name holds one), and what
// MatchTypes said of each and its facts, in the same order.
struct ListedFiles {
    std::string names;
    std::vector<std::uint32_t> tags;
    // What the table keeps of each file's facts: 32 bytes, where FileFacts
    // takes 40, for every listed file until its row is placed.
    struct Facts {
        std::uint64_t size;
        std::int64_t creationTime;
        FileIdentity identity;
    };
    std::vector<Facts> facts;
};

// Every tag of `files` together.
std::uint32_t TypesOf(const ListedFiles& files);

// A subfolder as its parent's listing found it. Which folder it is, is
// found out once, from the folder opened for its own listing.
struct ListedSubfolder {
    std::string name;
    HeldFolder opened;        // already open, when its parent's listing opened it
    bool hookCalled = false;  // the parent's listing tried to open it, and called the hook then
    // Its own listing, when the worker that listed the parent went on into it.
    std::shared_ptr<FolderListing> listed;
};

// What listing one folder gave.
struct FolderListing {
    ListedFiles files;
    std::vector<ListedSubfolder> subfolders;  // in listing order
    HeldFolder handle;                        // kept open for its subfolders, when at hand
    FileIdentity id;                          // the folder listed; unknown when it could not be opened
    bool skipped = false;                     // not listed: by its identity, a folder a search never enters
};

// Lists a folder just opened (its reading starts at its beginning) and takes
// the facts of each file of a ticked type while the folder is open, one
// system call each. Subfolders are taken as the listing names them; only an
// entry whose kind the listing does not give is looked at. A file gone or
// turned into something else between the listing and its facts is left out.
// `readable`, when given, says whether the folder could be read to its end.
FolderListing ListFolderFiles(const FolderHandle& handle, const TypePatterns& types, bool* readable = nullptr);

// The same listing, with the facts of the files and of the entries whose
// kind the listing does not give asked for all at once through `queue`
// (one by one unless `ring`). With `ring` and `relative` (the folder's path
// below the target) given, it then opens the subfolders too, all at once,
// while the budget has room, calling the hook before each: their own
// listings then need not wait for the opening.
FolderListing ListFolderQueued(const FolderHandle& handle, const WalkContext& context, UringQueue& queue, bool ring,
                               const std::string* relative = nullptr, bool* readable = nullptr);

}  // namespace snapsift
