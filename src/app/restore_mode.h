// SPDX-License-Identifier: MIT
#pragma once

#include "app/record_output.h"

#include <cstdio>
#include <string>

namespace snapsift {

// The restore and history modes end their records with a line end, where
// control characters in names are shown as their symbols (␍ ␊ …) so that a
// record stays on one line, or with NUL, the names' bytes as they are.

// Puts the files of the last block of the log at `logPath` back where they
// were (the entries its record names, where it has one) and prints one line
// per path to `out` and a count; problems with the log go to `err`. Returns
// the exit status: 0 when every file was restored, 1 when some were not, 2
// when the log cannot be read or holds no block, or when the report cannot
// be written (one line on `err` says so).
int RunRestoreLast(const std::string& logPath, std::FILE* out, std::FILE* err, RecordEnd end = RecordEnd::Line);

// Puts back every file of the recorded deletion `id`; prints and returns as
// RunRestoreLast (2 when there is no such record).
int RunRestoreRecord(const std::string& id, std::FILE* out, std::FILE* err, RecordEnd end = RecordEnd::Line);

// Lists every recorded deletion, oldest first, one record each: its ID, its
// local time, how many files it moved, how many are still in the trash and
// its log, separated by TABs. Returns 0, or 2 when the list cannot be written.
int RunHistory(std::FILE* out, std::FILE* err, RecordEnd end = RecordEnd::Line);

}  // namespace snapsift
