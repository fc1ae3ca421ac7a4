// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace snapsift {

// What the window's start-up finds before Qt looks for its platform plugin:
// Qt aborts the program when it can load none.
struct DisplayEnvironment {
    std::string qpaPlatform;        // QT_QPA_PLATFORM
    std::string display;            // DISPLAY
    std::string waylandDisplay;     // WAYLAND_DISPLAY
    bool platformArgument = false;  // -platform on the command line
    bool waylandPlugin = false;     // Qt's Wayland plugin is where Qt looks for plugins
};

enum class PlatformChoice {
    AsIs,             // Qt's own choice, or the user's
    Wayland,          // a Wayland desktop without X: Qt itself would try X
    Xcb,              // no Wayland plugin, but an X display (XWayland) is there
    NoWaylandPlugin,  // a Wayland desktop without X, and no plugin to reach it
};

PlatformChoice ChoosePlatform(const DisplayEnvironment& environment);

// The folders Qt looks in for platform plugins: QT_QPA_PLATFORM_PLUGIN_PATH,
// then each of QT_PLUGIN_PATH's folders, then Qt's own `builtIn` folder
// (each but the first with "/platforms" after it). Null or empty variables
// add nothing.
std::vector<std::string> PlatformPluginFolders(const char* qpaPluginPath, const char* pluginPath,
                                               const std::string& builtIn);
// True when one of `folders` holds a Wayland platform plugin (libqwayland-*.so).
bool HasWaylandPlugin(const std::vector<std::string>& folders);

// What the program says on standard error instead of aborting.
extern const char kNoWaylandPluginText[];
std::string NoPlatformPluginText(const DisplayEnvironment& environment);

}  // namespace snapsift
