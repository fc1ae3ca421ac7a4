// SPDX-License-Identifier: MIT
#include "platform/checked_move.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift {

bool SameFileAfterMove(const FileFacts& before, const FileFacts& after)
{
    if (before.identity != after.identity || before.size != after.size)
        return false;
    return !before.birthTime || !after.birthTime || before.creationTime == after.creationTime;
}

MoveStatus RenameWithoutReplacing(int fromDir, const std::string& fromName, int toDir, const std::string& toName,
                                  int& error)
{
    error = 0;
    if (renameat2(fromDir, fromName.c_str(), toDir, toName.c_str(), RENAME_NOREPLACE) == 0)
        return MoveStatus::Moved;
    if (errno == EEXIST)
        return MoveStatus::Occupied;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        error = errno;
        return MoveStatus::Failed;
    }
    // The file system cannot refuse to replace. A second name cannot replace
    // anything either; then the first name goes.
    if (linkat(fromDir, fromName.c_str(), toDir, toName.c_str(), 0) == 0) {
        if (unlinkat(fromDir, fromName.c_str(), 0) == 0)
            return MoveStatus::Moved;
        error = errno;
        unlinkat(toDir, toName.c_str(), 0);
        return MoveStatus::Failed;
    }
    if (errno == EEXIST)
        return MoveStatus::Occupied;
    if (errno == ENOENT) {
        error = errno;
        return MoveStatus::Failed;
    }
    // No hard links (FAT, exFAT): look that the name is free, then rename.
    // The proof afterwards shows what moved.
    struct stat st { };
    if (fstatat(toDir, toName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return MoveStatus::Occupied;
    if (errno != ENOENT) {
        error = errno;
        return MoveStatus::Failed;
    }
    if (renameat(fromDir, fromName.c_str(), toDir, toName.c_str()) == 0)
        return MoveStatus::Moved;
    error = errno;
    return MoveStatus::Failed;
}

MoveResult MoveAndProve(int fromDir, const std::string& fromName, int toDir, const std::string& toName,
                        const FileFacts& expected, const std::function<void()>& afterRename)
{
    MoveResult result;
    result.status = RenameWithoutReplacing(fromDir, fromName, toDir, toName, result.error);
    if (result.status != MoveStatus::Moved)
        return result;
    if (afterRename)
        afterRename();
    const auto now = StatRegularFile(toDir, toName.c_str());
    if (now && SameFileAfterMove(expected, *now)) {
        result.moved = *now;
        return result;
    }
    int error = 0;
    if (RenameWithoutReplacing(toDir, toName, fromDir, fromName, error) == MoveStatus::Moved) {
        result.status = MoveStatus::NotTheFile;
        return result;
    }
    result.status = MoveStatus::NotTheFileStuck;
    result.error = error != 0 ? error : EEXIST;
    return result;
}

}  // namespace snapsift
