// SPDX-License-Identifier: MIT
#pragma once

#include "scan/folder_scan.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace snapsift {

// What the command line asks for.
struct CommandLine {
    enum class Mode { Window, Report, RestoreLast, RestoreRecord, History, Help, Version, BadUsage };
    enum class ReportKind { Rows, Duplicates, AutoSelect };
    Mode mode = Mode::Window;
    ReportKind report = ReportKind::Rows;
    SearchOptions options;  // for Report: the types asked for, JPEG when none is
    std::string folder;
    bool byNameAndSize = false;         // --auto-select without comparing contents
    std::vector<std::string> protect;  // --protect DIR, in the order given
    bool null = false;  // records end with NUL instead of a line end
    std::string logPath = "DeleteLog.log";  // for RestoreLast
    std::string recordId;  // for RestoreRecord
    std::string error;  // for BadUsage
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);

// A name or path as a report without --null writes it: %, TAB, CR and LF
// as %25, %09, %0D and %0A, every other byte as it is.
std::string ReportField(std::string_view bytes);

// The usage text that --help prints.
std::string UsageText();

// Runs the search of `line` without a window and prints the report to `out`;
// messages go to `err`. Returns the process's exit status: 0, or 2 when the
// folder cannot be searched, the options are refused or the report cannot be
// written in full (one line on `err` says why).
int RunReport(const CommandLine& line, std::FILE* out, std::FILE* err);

} // namespace snapsift
