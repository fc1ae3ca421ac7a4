// SPDX-License-Identifier: MIT
// Protected folders on real mounts, in report mode and in the window
// (offscreen): bind mounts either way round and a device mounted twice, each
// with a file that must not move. And the settings file as a person or an
// attacker leaves it: a FIFO, a claim of two billion folders, a path written
// by hand.
#include "hostile_trees.h"
#include "support/temp_tree.h"
#include "support/window_under_test.h"
#include "ui/fact_texts.h"
#include "ui/window/protection_settings.h"
#include "ui/window/settings_file.h"
#include "ui/window/snapsift_dlg.h"
#include "ui/window_texts.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift::testing {
namespace {

// --- Real mounts -------------------------------------------------------------

void Require(bool ok, const std::string& what)
{
    if (!ok)
        throw std::runtime_error(what + " failed");
}

int MountBind(const std::string& from, const std::string& to)
{
    return mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr);
}

std::string CommandOutput(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        pclose(pipe);
    }
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

// A searched folder on the desktop holding three copies of one picture: a
// newer one, an older free one, and an older one that lies in a protected
// folder of the same file system, reached only through a mount.
struct Scene {
    std::string name;
    std::string target;           // on the desktop; what is searched
    std::string protectedFolder;  // outside the target as seen
    std::string kept;             // the protected copy, as the search lists it
    std::string free;             // the older copy that may go
    std::string skip;
    std::vector<std::string> mounts;
    std::string loop;
    bool freeGoes = true;  // the free copy can go to a trash there
    TempDir outside;

    explicit Scene(const std::string& sceneName) : name(sceneName), target(SetUpIsolatedHome().desktop + "/" + name)
    {
        if (!MountRefusal().empty())
            skip = "cannot mount here: " + MountRefusal();
    }
    ~Scene()
    {
        for (auto m = mounts.rbegin(); m != mounts.rend(); ++m)
            umount2(m->c_str(), MNT_DETACH);
        if (!loop.empty())
            std::system(("losetup -d " + loop).c_str());
        RemoveTree(target);
    }
    void Finish()
    {
        MakeFileAt(target, "free/a.jpg", 7);
        WaitForNewerSecond(target);
        MakeFileAt(target, "new/a.jpg", 7);
    }
};

using Builder = std::function<void(Scene&)>;

// mount --bind OUTSIDE/data/home/u TARGET/u, with OUTSIDE/data protected.
void ProtectedAboveTheSource(Scene& s)
{
    s.protectedFolder = s.outside.MakeFolder("data");
    MakeFileAt(s.protectedFolder, "home/u/old/a.jpg", 7);
    Require(mkdir(s.target.c_str(), 0755) == 0 && mkdir((s.target + "/u").c_str(), 0755) == 0, "mkdir");
    if (MountBind(s.protectedFolder + "/home/u", s.target + "/u") != 0) {
        s.skip = "mount --bind refused";
        return;
    }
    s.mounts.push_back(s.target + "/u");
    s.kept = s.target + "/u/old/a.jpg";
    s.free = s.target + "/free/a.jpg";
    s.Finish();
}

// mount --bind OUTSIDE/masters/sub TARGET/view, with OUTSIDE/masters protected.
void SubfolderBoundElsewhere(Scene& s)
{
    s.protectedFolder = s.outside.MakeFolder("masters");
    MakeFileAt(s.protectedFolder, "sub/a.jpg", 7);
    Require(mkdir(s.target.c_str(), 0755) == 0 && mkdir((s.target + "/view").c_str(), 0755) == 0, "mkdir");
    if (MountBind(s.protectedFolder + "/sub", s.target + "/view") != 0) {
        s.skip = "mount --bind refused";
        return;
    }
    s.mounts.push_back(s.target + "/view");
    s.kept = s.target + "/view/a.jpg";
    s.free = s.target + "/free/a.jpg";
    s.Finish();
}

// One ext4 loop device mounted at OUTSIDE/m1 and at TARGET, with
// OUTSIDE/m1/keep protected.
void DeviceMountedTwice(Scene& s)
{
    const std::string image = s.outside / "disk.img";
    if (std::system(("truncate -s 16M " + image + " && mkfs.ext4 -q -F " + image + " >/dev/null 2>&1").c_str()) != 0) {
        s.skip = "mkfs.ext4 failed: no ext4 image can be made here";
        return;
    }
    s.loop = CommandOutput("losetup -f --show " + image + " 2>/dev/null");
    if (s.loop.empty()) {
        s.skip = "no loop device could be set up";
        return;
    }
    const std::string first = s.outside.MakeFolder("m1");
    Require(mkdir(s.target.c_str(), 0755) == 0, "mkdir");
    for (const std::string& at : {first, s.target}) {
        if (mount(s.loop.c_str(), at.c_str(), "ext4", 0, nullptr) != 0) {
            s.skip = "mounting the loop device refused";
            return;
        }
        s.mounts.push_back(at);
    }
    s.protectedFolder = first + "/keep";
    MakeFileAt(first, "keep/a.jpg", 7);
    s.kept = s.target + "/keep/a.jpg";
    s.free = s.target + "/free/a.jpg";
    s.Finish();
}

// A btrfs subvolume mounted on its own at TARGET (subvol=@pics) and the whole
// file system at OUTSIDE/top, with OUTSIDE/top/@pics/keep protected. Files in
// a subvolume have a device number of their own, not the mount's.
void BtrfsSubvolumeMountedAlone(Scene& s)
{
    const std::string image = s.outside / "btrfs.img";
    if (std::system(("truncate -s 160M " + image + " && mkfs.btrfs -q -f " + image + " >/dev/null 2>&1").c_str()) !=
        0) {
        s.skip = "mkfs.btrfs failed: no btrfs image can be made here";
        return;
    }
    s.loop = CommandOutput("losetup -f --show " + image + " 2>/dev/null");
    if (s.loop.empty()) {
        s.skip = "no loop device could be set up";
        return;
    }
    const std::string top = s.outside.MakeFolder("top");
    if (mount(s.loop.c_str(), top.c_str(), "btrfs", 0, nullptr) != 0) {
        s.skip = "mounting btrfs refused";
        return;
    }
    s.mounts.push_back(top);
    if (std::system(("btrfs -q subvolume create " + top + "/@pics >/dev/null").c_str()) != 0) {
        s.skip = "btrfs subvolume create failed";
        return;
    }
    s.protectedFolder = top + "/@pics/keep";
    MakeFileAt(top, "@pics/keep/a.jpg", 7);
    Require(mkdir(s.target.c_str(), 0755) == 0, "mkdir");
    if (mount(s.loop.c_str(), s.target.c_str(), "btrfs", 0, "subvol=@pics") != 0) {
        s.skip = "mounting a btrfs subvolume refused";
        return;
    }
    s.mounts.push_back(s.target);
    s.kept = s.target + "/keep/a.jpg";
    s.free = s.target + "/free/a.jpg";
    // GIO takes a subvolume mounted alone for a system mount (it matches
    // mounts by device number), so the trash refuses it; not this test's point.
    s.freeGoes = false;
    s.Finish();
}

struct SceneCase {
    const char* name;
    Builder build;
};

const SceneCase kScenes[] = {
    {"protected_above_the_source", ProtectedAboveTheSource},
    {"subfolder_bound_elsewhere", SubfolderBoundElsewhere},
    {"device_mounted_twice", DeviceMountedTwice},
    {"btrfs_subvolume_mounted_alone", BtrfsSubvolumeMountedAlone},
};

void PrintTo(const SceneCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

class ProtectedMountTest : public ::testing::TestWithParam<SceneCase> { };

TEST_P(ProtectedMountTest, ReportModeNeverPicksTheProtectedCopy)
{
    Scene s(std::string("report_") + GetParam().name);
    if (s.skip.empty())
        GetParam().build(s);
    if (!s.skip.empty())
        GTEST_SKIP() << s.skip;
    // Without protection both older copies are picked: the set-up holds.
    ProgramRun run = RunProgram({SNAPSIFT_BINARY, "--report", "--auto-select", s.target}, 120);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Sorted(Lines(run.out)), Sorted({s.kept, s.free}));
    run = RunProgram({SNAPSIFT_BINARY, "--report", "--auto-select", "--protect", s.protectedFolder, s.target}, 120);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, s.free + "\n");
}

// The window with recording stand-ins; its protected folders come from the
// settings file, as at a real start.
struct Window : WindowUnderTest {
    Window() { QCoreApplication::processEvents(); }
    // The selected rows' paths, sorted.
    std::vector<std::string> SelectedPaths() const { return Sorted(WindowUnderTest::SelectedPaths()); }
    void Select(const std::string& path) { SelectPaths({path}); }
    // The texts of the tree's menu opened on `item`.
    QStringList TreeMenu(QTreeWidgetItem* item)
    {
        QStringList texts;
        auto* timer = new QTimer;
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [timer, &texts] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                timer->stop();
                timer->deleteLater();
                for (QAction* action : menu->actions())
                    texts << action->text();
                menu->close();
            }
        });
        timer->start();
        dlg->m_folderTree->scrollToItem(item);
        const QPoint at = dlg->m_folderTree->visualItemRect(item).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, dlg->m_folderTree->viewport()->mapToGlobal(at));
        QApplication::sendEvent(dlg->m_folderTree->viewport(), &event);
        return texts;
    }
};

void WriteSettings(const std::string& text)
{
    const std::string path = SettingsFilePath();
    mkdir(path.substr(0, path.rfind('/')).c_str(), 0700);
    unlink(path.c_str());
    std::ofstream(path, std::ios::binary) << text;
}

std::string ProtectionEntry(const std::string& value)
{
    return "[protection]\nfolders\\1\\path=" + value + "\nfolders\\size=1\n";
}

TEST_P(ProtectedMountTest, WindowNeitherPicksNorMovesTheProtectedCopy)
{
    Scene s(std::string("window_") + GetParam().name);
    if (s.skip.empty())
        GetParam().build(s);
    if (!s.skip.empty())
        GTEST_SKIP() << s.skip;
    WriteSettings(ProtectionEntry("@ByteArray(" + s.protectedFolder + ")"));
    Window w;
    ASSERT_EQ(w.dlg->Protection().Folders().size(), 1u);
    QTreeWidgetItem* item = w.DesktopChild(s.name);
    ASSERT_NE(item, nullptr);
    w.dlg->m_folderTree->setCurrentItem(item);
    w.dlg->m_searchButton->click();
    ASSERT_EQ(w.dlg->Results().table.RowCount(), 3);
    w.dlg->m_autoSelectButton->click();
    EXPECT_EQ(w.SelectedPaths(), std::vector<std::string>{s.free});

    // Chosen by hand, it is named apart and stays; the free copy goes.
    w.Select(s.kept);
    w.messenger.shown.clear();
    w.dlg->m_deleteButton->click();
    ASSERT_FALSE(w.messenger.shown.empty());
    EXPECT_EQ(w.messenger.shown[0].text.rfind(ProtectedNotMovedText({s.kept}), 0), 0u) << w.messenger.shown[0].text;
    EXPECT_TRUE(IdOf(s.kept).has_value());
    if (s.freeGoes) {
        EXPECT_FALSE(IdOf(s.free).has_value()) << w.messenger.shown.back().text;
    }
    WriteSettings("");
}

INSTANTIATE_TEST_SUITE_P(Mounts, ProtectedMountTest, ::testing::ValuesIn(kScenes),
                         [](const ::testing::TestParamInfo<SceneCase>& info) { return info.param.name; });

// --- The settings file at start-up ---------------------------------------------

TEST(ProtectionSettingsWindowTest, AFifoAsSettingsIsNeitherReadNorWritten)
{
    const std::string path = SettingsFilePath();
    WriteSettings("");
    unlink(path.c_str());
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_FALSE(SettingsFileSafe());
    EXPECT_EQ(ReadSettingsFile(), std::nullopt);
    {
        const Watchdog watchdog("opening and closing the window with a FIFO as its settings", 120);
        Window w;
        EXPECT_TRUE(w.dlg->Protection().Empty());
        static_cast<QDialog*>(w.dlg.get())->done(0);
    }
    struct stat st { };
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    unlink(path.c_str());
    EXPECT_TRUE(SettingsFileSafe());  // none there: a first start
}

TEST(ProtectionSettingsWindowTest, TwoBillionClaimedFoldersAreReadWithinBoundsAndSaidOnce)
{
    TempDir kept;
    WriteSettings("[protection]\nfolders\\1\\path=@ByteArray(" + kept.Path() + ")\nfolders\\size=2000000000\n");
    const Watchdog watchdog("opening the window with two billion claimed protected folders", 120);
    Window w;
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    ASSERT_EQ(w.dlg->Protection().Folders().size(), 1u);
    EXPECT_EQ(w.dlg->Protection().Folders()[0].path, kept.Path());
    ASSERT_EQ(w.messenger.shown.size(), 1u);
    EXPECT_EQ(w.messenger.shown[0].text, ProtectionCutText(kMaxProtectedFolders));
    WriteSettings("");
}

// "@ByteArray(…/café)" written by hand: kept as written, shown as broken in
// the tree's menu, and still protecting the folder it names, also at the
// next start after the settings were written again.
TEST(ProtectionSettingsWindowTest, APathWrittenByHandIsKeptShownAndStillProtects)
{
    const std::string name = "hand_written";
    const std::string target = SetUpIsolatedHome().desktop + "/" + name;
    const std::string cafe = target + "/caf\xc3\xa9";
    ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
    MakeFileAt(target, "caf\xc3\xa9/a.jpg", 9);
    MakeFileAt(target, "free/a.jpg", 9);
    WaitForNewerSecond(target);
    MakeFileAt(target, "new/a.jpg", 9);
    const std::string written = "@ByteArray(" + cafe + ")";
    WriteSettings(ProtectionEntry(written));
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start == 0 ? "as written by hand" : "after the settings were written again");
        Window w;
        ASSERT_EQ(w.dlg->Protection().Folders().size(), 1u);
        EXPECT_EQ(w.dlg->Protection().Folders()[0].written, written);
        QTreeWidgetItem* item = w.DesktopChild(name);
        ASSERT_NE(item, nullptr);
        EXPECT_TRUE(w.TreeMenu(item).contains(QString::fromStdString(BrokenProtectionText(written))));
        w.dlg->m_folderTree->setCurrentItem(item);
        w.dlg->m_searchButton->click();
        w.dlg->m_autoSelectButton->click();
        EXPECT_EQ(w.SelectedPaths(), std::vector<std::string>{target + "/free/a.jpg"});
        static_cast<QDialog*>(w.dlg.get())->done(0);  // writes the window's settings
    }
    WriteSettings("");
    RemoveTree(target);
}

// A right-click on a tree folder opens its menu and leaves the search target
// as it was.
TEST(ProtectionSettingsWindowTest, RightClickOnATreeFolderKeepsTheSearchTarget)
{
    const std::string desktop = SetUpIsolatedHome().desktop;
    ASSERT_EQ(mkdir((desktop + "/right_a").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((desktop + "/right_b").c_str(), 0755), 0);
    MakeFileAt(desktop, "right_a/x.jpg", 1);
    MakeFileAt(desktop, "right_b/x.jpg", 1);
    Window w;
    QTreeWidgetItem* a = w.DesktopChild("right_a");
    QTreeWidgetItem* b = w.DesktopChild("right_b");
    ASSERT_TRUE(a && b);
    w.dlg->m_folderTree->setCurrentItem(a);
    QTimer closer;  // the menu the click opens
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    });
    closer.start(10);
    const QPoint at = w.dlg->m_folderTree->visualItemRect(b).center();
    QTest::mouseClick(w.dlg->m_folderTree->viewport(), Qt::RightButton, Qt::NoModifier, at);
    EXPECT_EQ(w.dlg->m_folderTree->currentItem(), a);
    EXPECT_EQ(w.dlg->m_folderTree->selectedItems(), QList<QTreeWidgetItem*>{a});
    RemoveTree(desktop + "/right_a");
    RemoveTree(desktop + "/right_b");
}

}  // namespace
}  // namespace snapsift::testing

int main(int argc, char** argv)
{
    return snapsift::testing::RunWindowTests(argc, argv);
}
