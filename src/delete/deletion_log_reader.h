#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace snapsift {

// Undoes the escapes of a logged path: %0D, %0A and %25 become CR, LF and %.
// Nothing else is decoded; any other % stays as it is.
std::string DecodeLoggedPath(std::string_view logged);

// The last block of a deletion log, as read back.
struct LoggedDeletion {
    std::int64_t startTime = 0;      // line 2, read as local time
    std::vector<std::string> paths;  // decoded, in the order logged
};

enum class LogReadOutcome {
    Read,
    NotReadable,   // missing, not a plain file (errno 0), or an error while reading (errno says which)
    NoBlock,       // no block heading in it
    NoStartTime,   // the last block has no start time line that can be read
};

// Reads the last block of the log at `logPath`. The log is opened for reading
// only and never changed. Lines may end with CR LF or LF alone.
LogReadOutcome ReadLastDeletion(const std::string& logPath, LoggedDeletion& deletion);

} // namespace snapsift
