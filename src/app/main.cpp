// SPDX-License-Identifier: MIT
#include "app/report_mode.h"
#include "app/restore_mode.h"
#include "version.h"

#ifdef SNAPSIFT_WITH_WINDOW
#include "app/display_check.h"
#include "app/snapsift_app.h"
#include "ui/preview/preview_helper.h"

#include <QLibraryInfo>
#include <QString>
#endif

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
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

#ifdef SNAPSIFT_WITH_WINDOW
snapsift::DisplayEnvironment g_display;
QtMessageHandler g_qtHandler = nullptr;

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Qt ends the program with abort() when it can load no platform plugin: a
// display that is not there or a package that is missing, said plainly.
void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg && message.contains(QLatin1String("platform plugin"))) {
        const std::string text = snapsift::NoPlatformPluginText(g_display);
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (g_qtHandler)
        g_qtHandler(type, context, message);
}

// Picks the platform plugin where Qt's own choice would abort: Qt tries X
// first, also on a Wayland desktop without XWayland. False, with the reason
// said, when no plugin can reach the desktop.
bool PreparePlatform(int& argc, char**& argv)
{
    using snapsift::PlatformChoice;
    g_display.qpaPlatform = Variable("QT_QPA_PLATFORM");
    g_display.display = Variable("DISPLAY");
    g_display.waylandDisplay = Variable("WAYLAND_DISPLAY");
    for (int i = 1; i < argc; ++i)
        g_display.platformArgument = g_display.platformArgument || std::string(argv[i]) == "-platform";
    g_display.waylandPlugin = snapsift::HasWaylandPlugin(
        snapsift::PlatformPluginFolders(std::getenv("QT_QPA_PLATFORM_PLUGIN_PATH"), std::getenv("QT_PLUGIN_PATH"),
                                        QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString()));
    g_qtHandler = qInstallMessageHandler(OnQtMessage);
    const PlatformChoice choice = snapsift::ChoosePlatform(g_display);
    if (choice == PlatformChoice::NoWaylandPlugin) {
        std::fputs(snapsift::kNoWaylandPluginText, stderr);
        return false;
    }
    if (choice == PlatformChoice::AsIs)
        return true;
    // As an argument, not in the environment: the programs the window opens
    // files with choose their own.
    static std::vector<char*> arguments;
    static char option[] = "-platform";
    static char wayland[] = "wayland";
    static char xcb[] = "xcb";
    arguments.assign(argv, argv + argc);
    arguments.insert(arguments.begin() + 1, {option, choice == PlatformChoice::Wayland ? wayland : xcb});
    arguments.push_back(nullptr);
    argc += 2;
    argv = arguments.data();
    return true;
}
#endif

snapsift::RecordEnd RecordEndOf(const snapsift::CommandLine& line)
{
    return line.null ? snapsift::RecordEnd::Null : snapsift::RecordEnd::Line;
}

}  // namespace

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
    if (!PreparePlatform(argc, argv))
        return 1;
    snapsift::CSnapsiftApp app;
    return app.InitInstance(argc, argv);
#else
    std::fputs("snapsift: this build has no window; use --report (see --help).\n", stderr);
    return 1;
#endif
}
