// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <string>

namespace snapsift {

// Puts the files of the last block of the log at `logPath` back where they
// were and prints one line per path to `out` and a count; problems with the
// log go to `err`. Returns the exit status: 0 when every file was restored,
// 1 when some were not, 2 when the log cannot be read or holds no block, or
// when the report cannot be written (one line on `err` says so).
int RunRestoreLast(const std::string& logPath, std::FILE* out, std::FILE* err);

} // namespace snapsift
