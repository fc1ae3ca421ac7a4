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
    case RestoreStatus::Failed:
        return r.error;
    }
    return {};
}

void PutLine(std::FILE* out, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), out);
    std::fputc('\n', out);
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
    for (const RestoreResult& r : RestoreDeletion(deletion, progress)) {
        if (r.status == RestoreStatus::Restored) {
            ++restored;
            PutLine(out, "restored: " + r.path);
        } else {
            PutLine(out, "not restored: " + r.path + ": " + Reason(r));
        }
    }
    std::fprintf(out, "%zu of %zu files restored\n", restored, deletion.paths.size());
    if (std::fflush(out) != 0)
        return 1;
    return restored == deletion.paths.size() ? 0 : 1;
}

} // namespace snapsift
