// SPDX-License-Identifier: MIT
#include "app/display_check.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <memory>

namespace snapsift {

PlatformChoice ChoosePlatform(const DisplayEnvironment& environment)
{
    if (environment.platformArgument || !environment.qpaPlatform.empty() || environment.waylandDisplay.empty())
        return PlatformChoice::AsIs;
    if (environment.waylandPlugin)
        return environment.display.empty() ? PlatformChoice::Wayland : PlatformChoice::AsIs;
    return environment.display.empty() ? PlatformChoice::NoWaylandPlugin : PlatformChoice::Xcb;
}

std::vector<std::string> PlatformPluginFolders(const char* qpaPluginPath, const char* pluginPath,
                                               const std::string& builtIn)
{
    std::vector<std::string> folders;
    if (qpaPluginPath && *qpaPluginPath)
        folders.emplace_back(qpaPluginPath);
    const std::string list = pluginPath ? pluginPath : "";
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t colon = std::min(list.find(':', start), list.size());
        if (colon > start)
            folders.push_back(list.substr(start, colon - start) + "/platforms");
        start = colon + 1;
    }
    if (!builtIn.empty())
        folders.push_back(builtIn + "/platforms");
    return folders;
}

bool HasWaylandPlugin(const std::vector<std::string>& folders)
{
    constexpr char kPrefix[] = "libqwayland";
    for (const std::string& folder : folders) {
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
        if (!dir)
            continue;
        while (const dirent* entry = ::readdir(dir.get())) {
            const std::size_t length = std::strlen(entry->d_name);
            if (std::strncmp(entry->d_name, kPrefix, sizeof kPrefix - 1) == 0 && length > 3 &&
                std::strcmp(entry->d_name + length - 3, ".so") == 0)
                return true;
        }
    }
    return false;
}

const char kNoWaylandPluginText[] =
    "snapsift: ウィンドウを開けません。Wayland のデスクトップ（WAYLAND_DISPLAY あり、DISPLAY なし）ですが、"
    "Qt の Wayland 用プラグインが見つかりません。\n"
    "パッケージ qt6-wayland を入れてください（例: sudo apt-get install qt6-wayland）。\n"
    "ウィンドウなしで検索するには: snapsift --report フォルダー（snapsift --help を参照）\n";

std::string NoPlatformPluginText(const DisplayEnvironment& environment)
{
    const auto shown = [](const std::string& value) { return value.empty() ? std::string("（なし）") : value; };
    return "snapsift: ウィンドウを開けません。Qt の表示用プラグインを読み込めませんでした"
           "（DISPLAY=" +
           shown(environment.display) + "、WAYLAND_DISPLAY=" + shown(environment.waylandDisplay) +
           "、QT_QPA_PLATFORM=" + shown(environment.qpaPlatform) +
           "）。\n"
           "X のデスクトップでは DISPLAY を、Wayland のデスクトップでは WAYLAND_DISPLAY と"
           "パッケージ qt6-wayland を確かめてください。\n"
           "ウィンドウなしで検索するには: snapsift --report フォルダー（snapsift --help を参照）\n";
}

}  // namespace snapsift
