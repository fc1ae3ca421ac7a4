// SPDX-License-Identifier: MIT
#pragma once

#include "app/command_line.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace snapsift {

// A name or path as a report without --null writes it: %, TAB, CR and LF
// as %25, %09, %0D and %0A, every other byte as it is.
std::string ReportField(std::string_view bytes);

// Runs the search of `line` without a window and prints the report to `out`;
// messages go to `err`. Returns the process's exit status: 0, or 2 when the
// folder cannot be searched, the options are refused or the report cannot be
// written in full (one line on `err` says why).
int RunReport(const CommandLine& line, std::FILE* out, std::FILE* err);

}  // namespace snapsift
