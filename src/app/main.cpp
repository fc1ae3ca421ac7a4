// SPDX-License-Identifier: MIT
#include "app/report_mode.h"
#include "app/restore_mode.h"
#include "version.h"

#ifdef SNAPSIFT_WITH_WINDOW
#include "app/snapsift_app.h"
#include "ui/preview/preview_helper.h"
#endif

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool HasDisplay()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

snapsift::RecordEnd RecordEndOf(const snapsift::CommandLine& line)
{
    return line.null ? snapsift::RecordEnd::Null : snapsift::RecordEnd::Line;
}

} // namespace

int main(int argc, char** argv)
{
#ifdef SNAPSIFT_WITH_WINDOW
    // Started by the window to decode previews: no display, no window.
    if (snapsift::IsPreviewHelperCall(argc, argv))
        return snapsift::RunPreviewHelper();
#endif
    using snapsift::CommandLine;
    const CommandLine line = snapsift::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.mode) {
    case CommandLine::Mode::Help:
        std::fputs(snapsift::UsageText().c_str(), stdout);
        return 0;
    case CommandLine::Mode::Version:
        std::puts("snapsift " SNAPSIFT_VERSION);
        return 0;
    case CommandLine::Mode::BadUsage:
        std::fprintf(stderr, "snapsift: %s (try 'snapsift --help')\n", line.error.c_str());
        return 2;
    case CommandLine::Mode::Report: {
        if (fcntl(STDOUT_FILENO, F_GETFD) == -1) {
            // Closed: a folder opened later would take its number.
            std::fputs("snapsift: cannot write the report: standard output is closed\n", stderr);
            return 2;
        }
        static char buffer[1 << 20];
        std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
        return snapsift::RunReport(line, stdout, stderr);
    }
    case CommandLine::Mode::RestoreLast:
        return snapsift::RunRestoreLast(line.logPath, stdout, stderr, RecordEndOf(line));
    case CommandLine::Mode::RestoreRecord:
        return snapsift::RunRestoreRecord(line.recordId, stdout, stderr, RecordEndOf(line));
    case CommandLine::Mode::History:
        return snapsift::RunHistory(stdout, stderr, RecordEndOf(line));
    case CommandLine::Mode::Window:
        break;
    }
    if (!HasDisplay()) {
        std::fputs("snapsift: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                   "Run it on a desktop, under a virtual display with 'xvfb-run snapsift',\n"
                   "or search without a window: 'snapsift --report FOLDER' (see --help).\n",
                   stderr);
        return 1;
    }
#ifdef SNAPSIFT_WITH_WINDOW
    snapsift::CSnapsiftApp app;
    return app.InitInstance(argc, argv);
#else
    std::fputs("snapsift: this build has no window; use --report (see --help).\n", stderr);
    return 1;
#endif
}
