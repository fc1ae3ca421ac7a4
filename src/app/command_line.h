// SPDX-License-Identifier: MIT
#pragma once

#include "scan/folder_scan.h"

#include <string>
#include <vector>

namespace snapsift {

// What the command line asks for.
struct CommandLine {
    enum class Mode {
        Window,
        Report,
        RestoreLast,
        RestoreRecord,
        History,
        Help,
        Version,
        BadUsage
    };
    enum class ReportKind {
        Rows,
        Duplicates,
        AutoSelect
    };
    Mode mode = Mode::Window;
    ReportKind report = ReportKind::Rows;
    SearchOptions options;  // for Report: the types asked for, JPEG when none is
    std::string folder;
    bool byNameAndSize = false;             // --auto-select without comparing contents
    std::vector<std::string> protect;       // --protect DIR, in the order given
    bool null = false;                      // records end with NUL instead of a line end
    std::string logPath = "DeleteLog.log";  // for RestoreLast
    std::string recordId;                   // for RestoreRecord
    std::string error;                      // for BadUsage
};

// Reads the arguments after the program's name. Options may come in any
// order; what they ask for, or why they are refused, is in the result.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The usage text that --help prints.
std::string UsageText();

}  // namespace snapsift
