// SPDX-License-Identifier: MIT
#include "app/restore_mode.h"

#include "delete/restore_last.h"
#include "platform/progress.h"

#include <cerrno>
#include <cstring>

namespace snapsift {
namespace {

std::string Reason(const RestoreResult& r)
{
    switch (r.status) {
    case RestoreStatus::Restored:
        return {};
    case RestoreStatus::NotFound:
        return "not found in the trash";
    case RestoreStatus::Occupied:
        return "something else is at this path now";
    case RestoreStatus::NotRegularFile:
        return "the trash entry " + r.trashEntry + " is not a regular file";
    case RestoreStatus::BadTrashInfo:
        return "the trash entry " + r.trashEntry + " has a malformed .trashinfo";
    case RestoreStatus::LinkInPath:
        return "a link stands in the way at " + r.error;
    case RestoreStatus::FileInPath:
        return "a file stands where the folder " + r.error + " was";
    case RestoreStatus::EntryChanged:
        return "the trash entry " + r.trashEntry + " is not the file that was deleted";
    case RestoreStatus::Failed:
        return r.error;
    }
    return {};
}

// Writes one line; false once a write has failed.
bool PutLine(std::FILE* out, const std::string& text)
{
    return std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fputc('\n', out) != EOF;
}

} // namespace

int RunRestoreLast(const std::string& logPath, std::FILE* out, std::FILE* err)
{
    LoggedDeletion deletion;
    switch (ReadLastDeletion(logPath, deletion)) {
    case LogReadOutcome::Read:
        break;
    case LogReadOutcome::NotReadable:
        std::fprintf(err, "snapsift: cannot read the log %s: %s\n", logPath.c_str(),
                     errno ? std::strerror(errno) : "not a plain file");
        return 2;
    case LogReadOutcome::NoBlock:
        std::fprintf(err, "snapsift: the log %s holds no deletion\n", logPath.c_str());
        return 2;
    case LogReadOutcome::NoStartTime:
        std::fprintf(err, "snapsift: the last deletion in %s has no readable start time\n", logPath.c_str());
        return 2;
    }

    NullProgress progress;
    std::size_t restored = 0;
    bool written = true;
    int error = 0;
    const auto put = [&](const std::string& line) {
        if (written && !PutLine(out, line)) {
            written = false;
            error = errno;
        }
    };
    for (const RestoreResult& r : RestoreDeletion(deletion, progress)) {
        if (r.status == RestoreStatus::Restored) {
            ++restored;
            put("restored: " + r.path);
        } else {
            put("not restored: " + r.path + ": " + Reason(r));
        }
    }
    put(std::to_string(restored) + " of " + std::to_string(deletion.paths.size()) + " files restored");
    if (written && (std::fflush(out) != 0 || std::ferror(out))) {
        written = false;
        error = errno;
    }
    if (!written) {
        std::fprintf(err, "snapsift: cannot write the restore report: %s\n", std::strerror(error != 0 ? error : EIO));
        return 2;
    }
    return restored == deletion.paths.size() ? 0 : 1;
}

} // namespace snapsift
