// SPDX-License-Identifier: MIT
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
    // Line 2, read as local time. In the hour that repeats when the clock
    // goes back it names two moments: the earliest and the latest.
    std::int64_t startTime = 0;
    std::int64_t startTimeLatest = 0;
    std::string startText;           // line 2 as written, without its suffix
    std::vector<std::string> paths;  // decoded, in the order logged
};

enum class LogReadOutcome {
    Read,
    NotReadable,  // missing, not a plain file (errno 0), its last block too large (EFBIG) or an error while reading
    NoBlock,      // no block heading in it
    NoStartTime,  // the last block has no start time line that can be read
};

// Reads the last block of the log at `logPath`, looking back from its end: a
// log of any length costs memory in proportion to its last block. The log is
// opened for reading only and never changed. Lines may end with CR LF or LF.
LogReadOutcome ReadLastDeletion(const std::string& logPath, LoggedDeletion& deletion);

}  // namespace snapsift
