// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_system.h"
#include "platform/trash_folders.h"
#include "platform/trash_info.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace snapsift {

// Where a file went in the trash: the trash folder, and the entry's name in
// its files/ (its .trashinfo is info/NAME.trashinfo).
struct TrashEntryPlace {
    std::string folder;
    std::string name;
    std::string FilePath() const;
    std::string InfoPath() const;
};

enum class TrashStatus {
    Moved,           // in the trash, and proved to be the confirmed file
    Changed,         // not the confirmed file (before the move, or after it and put back)
    Gone,            // nothing under its path any more
    ChangedInTrash,  // something else was moved and could not go back: it stays in `entry`
    NoTrash,         // no trash can take it here; `refusal` says why
    Failed,          // the system refused; `refusal` says where, `error` holds its words
};

struct TrashOutcome {
    TrashStatus status = TrashStatus::Failed;
    TrashRefusal refusal;   // NoTrash and Failed: what stands in the way
    std::string error;      // the same in English words, for logs and the command line
    TrashEntryPlace entry;  // Moved and ChangedInTrash
    FileFacts moved{};      // what went to the trash (Moved)
};

struct TrashHooks {
    std::function<void(const std::string&)> beforeMove;
    std::function<void(const std::string&)> afterMove;
};

// Moves files to the freedesktop.org trash, one deletion at a time. Each file
// goes to the trash of its own file system: the home trash
// ($XDG_DATA_HOME/Trash) for files on its device, otherwise at the top of the
// file's mount .Trash/$uid (where .Trash is a real folder with the sticky bit)
// or .Trash-$uid (made 0700, the user's own). Never across file systems, never
// a copy, never a delete. An entry's name is claimed by creating its
// .trashinfo with O_EXCL; the file is moved from the folder that was checked,
// by descriptor, and the moved entry is checked again afterwards. Every
// .trashinfo, and every folder the trash makes, is flushed to the disk before
// the move that depends on it, so that after a crash each moved file still has
// its entry; the .trashinfo files of the paths announced with Expect are
// written and flushed in batches ahead of their moves. Claimed entries that no
// file took are removed when the writer ends.
class TrashWriter final {
public:
    TrashWriter();
    ~TrashWriter();
    TrashWriter(const TrashWriter&) = delete;
    TrashWriter& operator=(const TrashWriter&) = delete;

    // Moves the regular file at the absolute path `path` when it is still
    // `confirmed` (its identity where known, size and creation second). A
    // link anywhere in the path makes it Changed.
    TrashOutcome Move(const std::string& path, const FileFacts& confirmed);

    // The absolute paths that Move will be given next, in order (a path not
    // announced is claimed on its own when it comes).
    void Expect(std::vector<std::string> paths);

    // For tests: what runs between the check and the move, and between the
    // move and the proof, given the path.
    TrashHooks hooks;

private:
    struct Target;
    struct Claim {
        Target* target = nullptr;
        std::string name;  // of the entry in files/; info/ holds name + ".trashinfo"
    };
    // What Check found: the file, in its open folder, and the trash it goes to.
    struct Checked {
        FolderHandle* parent = nullptr;
        std::string base;
        FileFacts facts{};
        Target* target = nullptr;
    };
    bool Check(const std::string& path, const FileFacts& confirmed, Checked& checked, TrashOutcome& out);
    bool ClaimFor(const std::string& path, Target& target, Claim& claim, TrashOutcome& out);
    TrashOutcome MoveClaimed(const std::string& path, const Checked& checked, Claim claim, TrashOutcome out);
    Target& TargetFor(const std::string& parentPath, dev_t device);
    FolderHandle& ParentOf(const std::string& folder);
    void ClaimBatch(const std::vector<std::string>& paths);
    bool TakeClaim(const std::string& path, Target& target, Claim& claim);
    bool ClaimOne(const std::string& path, Target& target, Claim& claim, TrashOutcome& out);
    void DropClaim(const Claim& claim);

    std::map<dev_t, std::unique_ptr<Target>> targets_;
    std::string cachedFolder_;
    FolderHandle cachedParent_;
    std::vector<std::string> upcoming_;
    std::size_t nextUpcoming_ = 0;
    std::unordered_map<std::string, std::vector<Claim>> claims_;  // by path, in claiming order
};

}  // namespace snapsift
