// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_system.h"

#include <functional>
#include <string>

namespace snapsift {

// True when `after` is the file `before` described, as far as a rename keeps
// it on every file system: the same device, inode and size, and the same birth
// second where both facts are birth times. The modification time is not
// compared: some file systems (FAT through FUSE) change it on a rename, and FAT
// keeps no birth time to the second.
bool SameFileAfterMove(const FileFacts& before, const FileFacts& after);

enum class MoveStatus {
    Moved,            // the file is at the new name, proved to be `expected`
    Occupied,         // something is at the new name; nothing moved
    NotTheFile,       // what moved was not `expected`; it went back to its old name
    NotTheFileStuck,  // what moved was not `expected` and could not go back; it stays at the new name
    Failed,           // the system refused; nothing moved (`error`)
};

struct MoveResult {
    MoveStatus status = MoveStatus::Failed;
    int error = 0;      // errno, for Failed and NotTheFileStuck
    FileFacts moved{};  // what stands at the new name (Moved)
};

// Renames `fromName` in the folder `fromDir` to `toName` in `toDir`, never
// replacing anything at the new name: renameat2 with RENAME_NOREPLACE; where
// the file system refuses the flag (FUSE, FAT, exFAT), a hard link and the old
// name removed; where it has no hard links either, a look that the new name is
// free and a plain rename. Returns Moved, Occupied or Failed (errno in `error`).
MoveStatus RenameWithoutReplacing(int fromDir, const std::string& fromName, int toDir, const std::string& toName,
                                  int& error);

// RenameWithoutReplacing, then the proof: what now stands at the new name must
// be the regular file `expected` (SameFileAfterMove). Something else goes back
// where it came from, again without replacing. `afterRename`, for tests, runs
// between the rename and the proof.
MoveResult MoveAndProve(int fromDir, const std::string& fromName, int toDir, const std::string& toName,
                        const FileFacts& expected, const std::function<void()>& afterRename = {});

}  // namespace snapsift
