#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace snapsift {

enum class LogOutcome {
    Written,     // the whole block is on disk
    NotOpened,   // the log could not be opened (or is not a plain file); nothing written
    WriteFailed, // writing failed; the log is back to its length before the block
};

// The block for one confirmed deletion, as it is written: the heading line,
// the start time line and one line per path, each ended by CR LF. CR and LF
// bytes inside a path are written as %0D and %0A.
std::string DeletionLogBlock(std::int64_t startTime, const std::vector<std::string>& paths);

// Appends the block to the log at `logPath` (created when missing, never
// truncated, never reached through a link) and flushes it to disk.
LogOutcome AppendDeletionLog(std::int64_t startTime, const std::vector<std::string>& paths,
                             const std::string& logPath);

} // namespace snapsift
