// SPDX-License-Identifier: MIT
#pragma once

// The record each deletion keeps of what it moved, so that it can be undone
// later, from the window or the command line, whatever the clock or the time
// zone does meanwhile. One key file per deletion under
// $XDG_STATE_HOME/snapsift/records/ (by default ~/.local/state/snapsift/records/):
// NAME.journal while the deletion runs, NAME.record once it has ended.

#include "platform/file_system.h"
#include "platform/trash.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace snapsift {

// A file the user confirmed for deletion, with the facts the search found.
struct ConfirmedFile {
    std::string path;
    FileFacts facts;
};

// A file one deletion moved: its original path, its entry and what it was.
struct TrashedFile {
    std::string path;
    TrashEntryPlace entry;
    FileFacts facts;                    // of the file in the trash
    std::int64_t birthTime = 0;         // seconds since 1970 UTC; 0 where the file system keeps none
    std::int64_t modificationTime = 0;  // seconds since 1970 UTC
    std::int64_t deletionTime = 0;      // seconds since 1970 UTC
};

// The log file a block went to, as the record names it.
struct LogIdentity {
    std::string path;  // absolute
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

struct DeletionRecord {
    std::string id;                  // the record's name, as --history lists it and --restore takes it
    LogIdentity log;                 // where the block went (or was meant to go, when `logged` is false)
    bool logged = true;              // the block is in that log
    bool complete = true;            // false: read from the journal of a deletion that did not end
    std::int64_t startTime = 0;      // the block's time, seconds since 1970 UTC
    std::string startText;           // the block's time as its second line gives it, in the local time of the deletion
    std::vector<TrashedFile> files;  // in the order moved
};

// $XDG_STATE_HOME/snapsift/records (by default ~/.local/state/snapsift/records);
// empty when no home is known.
std::string RecordsFolder();

// Writes the record of one deletion as it runs. Before the first move the
// journal names every confirmed file with its identity and is flushed to
// disk, file and folder; each move adds the entry it went to. At the end the
// whole record is written to a new file, flushed and renamed into place, and
// the journal goes. A crash at any point leaves either the record or the
// journal, from which every file moved can be found again.
class DeletionRecordWriter final {
public:
    DeletionRecordWriter() = default;
    ~DeletionRecordWriter();
    DeletionRecordWriter(const DeletionRecordWriter&) = delete;
    DeletionRecordWriter& operator=(const DeletionRecordWriter&) = delete;

    // Starts the journal in `folder` (made 0700 where missing). False, with
    // Error() saying why, when it cannot be written: then nothing may move.
    bool Begin(const std::string& folder, const LogIdentity& log, std::int64_t startTime,
               const std::vector<ConfirmedFile>& files);
    // File `index` of those begun with has moved. Appended, not flushed: the
    // journal's identities find it should this note be lost.
    void Moved(std::size_t index, const TrashedFile& file);
    // Writes the record of the files moved and removes the journal. False,
    // with Error(), when the record cannot be written (the journal stays).
    bool Finish(const LogIdentity& log, bool logged, const std::vector<TrashedFile>& moved);
    // Nothing was moved: the journal goes and no record is kept.
    void Abandon();

    const std::string& Id() const { return id_; }
    const std::string& Error() const { return error_; }

private:
    FolderHandle folder_;
    std::string id_;
    std::string error_;
    std::string startText_;
    std::int64_t startTime_ = 0;
    int journal_ = -1;
};

// The facts a record keeps of the file at `path` (not following a link).
std::optional<TrashedFile> RecordedFacts(const std::string& path);

// The names of the records in `folder`, oldest first.
std::vector<std::string> ListRecordIds(const std::string& folder);
// Reads the record `id` of `folder`: the finished record, else its journal
// (then `complete` is false and files whose move was not noted are looked
// for in the trash by their identity). Only a plain file of this user's, of
// bounded size, is read.
std::optional<DeletionRecord> LoadRecord(const std::string& folder, const std::string& id);

// The same without its files: the log and the time alone, read cheaply.
std::optional<DeletionRecord> LoadRecordHeading(const std::string& folder, const std::string& id);

// Where one recorded file is now.
enum class TrashedState {
    InTrash,   // its entry is still the file that was moved
    Restored,  // the file that was moved is back at its path
    Gone,      // neither: emptied from the trash, or changed
};
TrashedState StateOf(const TrashedFile& file);

// Every recorded deletion with the state of each of its files, oldest first.
struct RecordedDeletion {
    DeletionRecord record;
    std::vector<TrashedState> states;  // one per file
    std::size_t InTrash() const;
};
std::vector<RecordedDeletion> LoadHistory(const std::string& folder);

// The record of the last block of the log at `logPath`: the newest record
// whose log is that file, whose time is the block's as written, and whose
// files are the block's paths.
struct LoggedDeletion;
std::optional<DeletionRecord> RecordOfBlock(const std::string& folder, const std::string& logPath,
                                            const LoggedDeletion& block);

}  // namespace snapsift
