// SPDX-License-Identifier: MIT
#include "app/restore_mode.h"

#include "app/record_output.h"
#include "delete/deletion_record.h"
#include "delete/restore_last.h"
#include "platform/local_time.h"
#include "platform/progress.h"
#include "ui/visible_controls.h"

#include <cerrno>
#include <cstring>
#include <vector>

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
    case RestoreStatus::Ambiguous:
        return "more than one trash entry of this path fits the deletion's time";
    }
    return {};
}

// A name as `end`'s records show it.
std::string ShownName(const std::string& bytes, RecordEnd end)
{
    return end == RecordEnd::Null ? bytes : VisibleControls(bytes);
}

int PrintResults(const std::vector<RestoreResult>& results, std::FILE* out, std::FILE* err, RecordEnd end)
{
    RecordOutput output(out, end);
    std::size_t restored = 0;
    for (const RestoreResult& r : results) {
        if (r.status == RestoreStatus::Restored) {
            ++restored;
            output.Put("restored: " + ShownName(r.path, end));
        } else {
            output.Put("not restored: " + ShownName(r.path, end) + ": " + ShownName(Reason(r), end));
        }
    }
    output.Put(std::to_string(restored) + " of " + std::to_string(results.size()) + " files restored");
    if (const int error = output.Finish(); error != 0) {
        std::fprintf(err, "snapsift: cannot write the restore report: %s\n", std::strerror(error));
        return 2;
    }
    return restored == results.size() ? 0 : 1;
}

}  // namespace

int RunRestoreLast(const std::string& logPath, std::FILE* out, std::FILE* err, RecordEnd end)
{
    LastLoggedDeletion last;
    switch (ReadLastLoggedDeletion(logPath, last)) {
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
    return PrintResults(RestoreLastLogged(last, progress), out, err, end);
}

int RunRestoreRecord(const std::string& id, std::FILE* out, std::FILE* err, RecordEnd end)
{
    const auto record = LoadRecord(RecordsFolder(), id);
    if (!record) {
        std::fprintf(err, "snapsift: no recorded deletion %s (see snapsift --history)\n", VisibleControls(id).c_str());
        return 2;
    }
    NullProgress progress;
    return PrintResults(RestoreTrashed(record->files, progress), out, err, end);
}

int RunHistory(std::FILE* out, std::FILE* err, RecordEnd end)
{
    RecordOutput output(out, end);
    for (const RecordedDeletion& deletion : LoadHistory(RecordsFolder())) {
        const DeletionRecord* record = &deletion.record;
        std::string line = ShownName(record->id, end) + '\t' + FormatLocalTime(record->startTime, "%Y-%m-%d %H:%M:%S") +
                           '\t' + std::to_string(record->files.size()) + " moved\t" +
                           std::to_string(deletion.InTrash()) + " in the trash\t" + ShownName(record->log.path, end);
        if (!record->logged)
            line += "\tnot logged";
        if (!record->complete)
            line += "\tinterrupted";
        output.Put(line);
    }
    if (const int error = output.Finish(); error != 0) {
        std::fprintf(err, "snapsift: cannot write the history: %s\n", std::strerror(error));
        return 2;
    }
    return 0;
}

}  // namespace snapsift
