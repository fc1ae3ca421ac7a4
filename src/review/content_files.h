// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_descriptor.h"
#include "review/content_check.h"

#include <cstdint>
#include <optional>

namespace snapsift {

class FileTable;

namespace content {

// What an open copy's `Error()` says when the file can be opened but is no
// longer the one the search found (another file, another size, not regular).
constexpr int kChanged = -1;

// The state of the open file `fd`, or nothing when it is not a regular file.
std::optional<ContentChecker::FileState> StateOf(int fd);

// One row's file, opened without following a link in its last part, and kept
// only while it is the file the search found under that name, at its size.
class OpenCopy final {
public:
    OpenCopy(const FileTable& table, int row);
    explicit OpenCopy(const ContentChecker::CopyPlace& place);
    OpenCopy(const OpenCopy&) = delete;
    OpenCopy& operator=(const OpenCopy&) = delete;

    bool IsOpen() const { return fd_.IsOpen(); }
    int Fd() const { return fd_.Fd(); }
    // 0 when open; else the errno of the open, or kChanged.
    int Error() const { return error_; }
    const ContentChecker::FileState& State() const { return state_; }
    // True while the open file still has the size and times it had when opened.
    bool Unchanged() const;

private:
    FileDescriptor fd_;
    int error_ = 0;
    ContentChecker::FileState state_;
};

// True for the errors that say the process (or the system) has too many
// files open: the copy is readable, only later.
bool TooManyOpen(int error);

// How many threads compare, and how many files each may hold open at once:
// together well below what RLIMIT_NOFILE leaves to this process, so the rest
// of the program keeps room to open its own.
struct OpenBudget {
    unsigned threads = 1;
    unsigned perThread = 2;
};
OpenBudget BudgetFor(unsigned threads);

// Where data next starts at or after `offset` in either file, up to `end`.
// Before it both files are holes, which read as zeros alike. A file system
// that does not say where its holes are counts as data everywhere.
std::uint64_t NextDataInEither(int x, int y, std::uint64_t offset, std::uint64_t end);

}  // namespace content
}  // namespace snapsift
