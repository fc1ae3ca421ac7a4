// SPDX-License-Identifier: MIT
// The window's start on a desktop Qt cannot reach: the choice of platform
// plugin from the environment, and the program itself, which says what is
// missing and exits with status 1 instead of aborting.
#include "app/display_check.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <QLibraryInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace snapsift {
namespace {

using testing::TempDir;

struct ChoiceCase {
    const char* name;
    DisplayEnvironment environment;
    PlatformChoice choice;
};

TEST(DisplayCheckTest, ChoosesAPluginOnlyWhereQtWouldAbort)
{
    const ChoiceCase cases[] = {
        {"an X desktop", {"", ":0", "", false, false}, PlatformChoice::AsIs},
        {"X and Wayland, plugin there", {"", ":0", "wayland-0", false, true}, PlatformChoice::AsIs},
        {"X and Wayland, no plugin: X", {"", ":0", "wayland-0", false, false}, PlatformChoice::Xcb},
        {"Wayland alone, plugin there", {"", "", "wayland-0", false, true}, PlatformChoice::Wayland},
        {"Wayland alone, no plugin", {"", "", "wayland-0", false, false}, PlatformChoice::NoWaylandPlugin},
        {"the user's QT_QPA_PLATFORM", {"offscreen", "", "wayland-0", false, false}, PlatformChoice::AsIs},
        {"the user's -platform", {"", "", "wayland-0", true, false}, PlatformChoice::AsIs},
        {"no display at all", {"", "", "", false, false}, PlatformChoice::AsIs},
    };
    for (const ChoiceCase& c : cases)
        EXPECT_EQ(ChoosePlatform(c.environment), c.choice) << c.name;
}

TEST(DisplayCheckTest, LooksWhereQtLooksForPlatformPlugins)
{
    using Folders = std::vector<std::string>;
    EXPECT_EQ(PlatformPluginFolders(nullptr, nullptr, "/qt"), (Folders{"/qt/platforms"}));
    EXPECT_EQ(PlatformPluginFolders("/qpa", "/a::/b:", "/qt"),
              (Folders{"/qpa", "/a/platforms", "/b/platforms", "/qt/platforms"}));
    EXPECT_EQ(PlatformPluginFolders("", "", ""), Folders{});

    const TempDir work;
    work.MakeFile("none/platforms/libqxcb.so");
    work.MakeFile("none/platforms/libqwayland-generic.so.debug");
    work.MakeFolder("none/platforms/libqwayland-egl.so.d");  // neither ends in .so
    work.MakeFile("some/platforms/libqwayland-egl.so");
    EXPECT_FALSE(HasWaylandPlugin({work / "none/platforms", work / "missing"}));
    EXPECT_TRUE(HasWaylandPlugin({work / "none/platforms", work / "some/platforms"}));
}

struct WindowRun {
    int status = -1;  // exit status, or -1
    int signal = 0;   // the signal that ended it, or 0
    std::string err;
    std::string why;  // a set-up the child could not make, or empty
};

// Runs the program for its window with `set` in its environment and DISPLAY,
// WAYLAND_DISPLAY, QT_QPA_PLATFORM and XDG_SESSION_TYPE removed unless set;
// with `platforms`, that folder stands in for Qt's own platform plugins.
WindowRun RunWindow(const std::map<std::string, std::string>& set, const std::optional<std::string>& platforms = {})
{
    int errors[2];
    if (::pipe2(errors, O_CLOEXEC) != 0)
        return {};
    const std::string builtIn = QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() + "/platforms";
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(errors[1], STDERR_FILENO);
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE",
                                 "QT_QPA_PLATFORM_PLUGIN_PATH", "QT_PLUGIN_PATH"})
            ::unsetenv(name);
        for (const auto& [name, value] : set)
            ::setenv(name.c_str(), value.c_str(), 1);
        if (platforms &&
            (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
             ::mount(platforms->c_str(), builtIn.c_str(), nullptr, MS_BIND, nullptr) != 0)) {
            const std::string why = "cannot stand a folder in for " + builtIn + ": " + std::strerror(errno) + "\n";
            (void)!::write(STDERR_FILENO, why.data(), why.size());
            ::_exit(121);
        }
        ::execl(SNAPSIFT_BINARY, SNAPSIFT_BINARY, nullptr);
        ::_exit(127);
    }
    ::close(errors[1]);
    WindowRun run;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(errors[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        run.err.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    ::close(errors[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    if (run.status == 121)
        run.why = run.err;
    return run;
}

// Qt's platform plugins without the Wayland ones, as where qt6-wayland is
// not installed.
std::string PlatformsWithoutWayland(const TempDir& work)
{
    const std::string folder = work.MakeFolder("platforms");
    const std::string builtIn = QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() + "/platforms";
    for (const char* plugin : {"libqxcb.so", "libqoffscreen.so", "libqminimal.so"}) {
        const std::string from = builtIn + "/" + plugin;
        if (::access(from.c_str(), R_OK) == 0 && ::symlink(from.c_str(), (folder + "/" + plugin).c_str()) != 0)
            ADD_FAILURE() << "cannot link " << from;
    }
    return folder;
}

TEST(DisplayCheckTest, WaylandWithoutItsPluginIsSaidNotAborted)
{
    const TempDir work;
    const std::string platforms = PlatformsWithoutWayland(work);
    work.MakeFolder("plugins/platforms");  // QT_PLUGIN_PATH without the Wayland plugin
    const WindowRun run = RunWindow({{"WAYLAND_DISPLAY", work / "no-such-socket"},
                                     {"QT_PLUGIN_PATH", work / "plugins"},
                                     {"XDG_SESSION_TYPE", "wayland"}},
                                    platforms);
    if (!run.why.empty())
        GTEST_SKIP() << run.why;
    EXPECT_EQ(run.signal, 0) << run.err;
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(kNoWaylandPluginText), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("qt6-wayland"), std::string::npos);
}

TEST(DisplayCheckTest, WaylandWithoutItsPluginFallsBackToX)
{
    const TempDir work;
    const std::string platforms = PlatformsWithoutWayland(work);
    // No X server answers at this display either: the X plugin was tried,
    // and its failure is said too.
    const WindowRun run = RunWindow(
        {{"WAYLAND_DISPLAY", work / "no-such-socket"}, {"DISPLAY", ":97531"}, {"XDG_SESSION_TYPE", "wayland"}},
        platforms);
    if (!run.why.empty())
        GTEST_SKIP() << run.why;
    EXPECT_EQ(run.signal, 0) << run.err;
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("\"xcb\""), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("\"wayland\""), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("DISPLAY=:97531"), std::string::npos) << run.err;
}

TEST(DisplayCheckTest, NoDisplayQtCanReachIsSaidNotAborted)
{
    const TempDir work;
    const std::map<std::string, std::string> cases[] = {
        // The Wayland plugin is there, its socket is not.
        {{"WAYLAND_DISPLAY", work / "no-such-socket"}},
        {{"DISPLAY", ":97531"}},
        {{"QT_QPA_PLATFORM", "no-such-platform"}},
    };
    for (const auto& set : cases) {
        const WindowRun run = RunWindow(set);
        SCOPED_TRACE(set.begin()->first + "=" + set.begin()->second);
        EXPECT_EQ(run.signal, 0) << run.err;
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find("ウィンドウを開けません"), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace snapsift
