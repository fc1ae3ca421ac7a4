// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_system.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace snapsift {

class FileTable;
class Progress;

// Copies of one name and one size that a check compares, group after group
// in flat arrays (a vector per group would cost more than the rows it holds):
// table rows, each group's newest first. A row is asked about when automatic
// selection would pick it by name and size alone.
struct CopyGroups {
    enum Answer : std::uint8_t {
        kDiffers,
        kSameAsNewer,
        kUnreadable
    };
    std::vector<std::uint32_t> rows;    // every group's rows, one group after another
    std::vector<std::uint32_t> starts;  // where each group begins in `rows`
    std::vector<std::uint8_t> asked;    // one flag per entry of `rows`
    // Filled by the check, one per entry of `rows`.
    std::vector<std::uint8_t> answers;
    // For a kUnreadable answer: the errno, or 0 when the file went or changed
    // since the search.
    std::vector<int> errors;

    std::size_t GroupCount() const { return starts.size(); }
    std::size_t Begin(std::size_t group) const { return starts[group]; }
    std::size_t End(std::size_t group) const { return group + 1 < starts.size() ? starts[group + 1] : rows.size(); }
};

// Compares the contents of files a search found. Every file is opened without
// following a link and used only while it is still the file of its row (same
// device and inode, same size); two rows of one file are equal without
// reading. Groups are compared in parallel on a few threads: first the first
// and last 64 KiB; then two copies with equal ends are compared whole, and
// of more than two each is read once, compared with the newest as it goes and
// hashed whole; those that differ from the newest are compared byte for byte
// only with copies of an equal digest. So a check costs about one read of
// each copy however many copies differ only in the middle, and keeps a few
// files open at once whatever the number of copies. Answers are remembered
// for as long as the files keep their identity, size and modification time.
class ContentChecker final {
public:
    ContentChecker();
    ~ContentChecker();
    ContentChecker(const ContentChecker&) = delete;
    ContentChecker& operator=(const ContentChecker&) = delete;

    // Fills `answers` of every group: whether each asked row's bytes equal
    // those of a row created later, or its file could not be read as found.
    // `progress` gets the KiB read of the KiB to read, on the calling thread.
    // Returns false when a stop was requested before the end: the groups'
    // answers are then incomplete.
    bool Check(const FileTable& table, CopyGroups& groups, Progress& progress);

    // What an earlier check found of rows `a` and `b`, looked up without
    // reading: empty when they were not compared or either file changed since.
    // Opens both files, so it may wait on their disk.
    std::optional<bool> KnownEqual(const FileTable& table, int a, int b) const;

    // From any thread: the running check (or the next one) ends soon. A
    // stopped check returns at once, within a few milliseconds: threads of
    // it that wait on a disk are left to end alone and own all they use.
    void RequestStop();
    // Before a check that a stop requested earlier must not end.
    void ResetStop();
    bool StopRequested() const;

    // Called on a worker thread after each read, with the bytes read; tests
    // use it to act at a known point of a check. A check copies it when it
    // starts; after a stop, a read that was stuck may still call it once it
    // returns, after Check has returned.
    std::function<void(std::uint64_t bytes)> afterRead;

    // Bytes read by this checker so far.
    std::uint64_t BytesRead() const;

    // The state of a file as a remembered answer depends on it.
    using FileState = ::snapsift::FileState;

    // Where a row's copy lies and what the search found of it, as a copy
    // that can be carried to another thread.
    struct CopyPlace {
        std::string path;
        std::string folder;
        std::string name;
        std::uint64_t size = 0;
        FileIdentity identity;
    };
    static CopyPlace PlaceOf(const FileTable& table, int row);
    // Opens the copy without following a link and gives its state while it
    // is still the file found: empty otherwise. May wait on the disk.
    static std::optional<FileState> StateOfCopy(const CopyPlace& place);
    // What an earlier check found of two copies in these states, from memory alone.
    std::optional<bool> KnownEqual(const FileState& a, const FileState& b) const;

private:
    struct Memory;
    class Run;

    std::shared_ptr<std::atomic<bool>> CurrentStop() const;

    // What the checks found, shared with their threads: a thread left to end
    // alone (stuck on a disk that does not answer) still has it to write to.
    std::shared_ptr<Memory> memory_;
    // The stop of the running check, or the next one. A check keeps its own:
    // a check given up on stays stopped whatever the next one does.
    mutable std::mutex stopMutex_;
    std::shared_ptr<std::atomic<bool>> stop_;
};

}  // namespace snapsift
