// SPDX-License-Identifier: MIT
// The previews under load, offscreen: the side-by-side window of thousands of
// copies keeps to what is in view, and the preview helpers stay within their
// limit on a disk that stops answering, with none left once it answers again.
#include "freeze_watch.h"
#include "hostile_trees.h"
#include "support/temp_tree.h"
#include "support/window_under_test.h"
#include "ui/preview/compare_window.h"
#include "ui/preview/picture_preview.h"
#include "ui/preview/preview_tip.h"
#include "ui/preview/result_previews.h"
#include "ui/window/snapsift_dlg.h"
#include "ui/window_texts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSet>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace snapsift::testing {
namespace {

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

std::string SmallJpeg()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "jpeg").write(image);
    return bytes.toStdString();
}

// This process's children: pid and state letter ("Z" for one not reaped).
std::vector<std::pair<int, char>> Children()
{
    std::vector<std::pair<int, char>> children;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        const int pid = std::atoi(entry->d_name);
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = '?';
        int parent = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == getpid())
            children.emplace_back(pid, state);
    }
    if (proc)
        closedir(proc);
    return children;
}

// --- The side-by-side window of one name with thousands of copies -----------

TEST(ManyCopies, SideBySideWindowKeepsToTheCardsInView)
{
    const int kCopies = std::getenv("COPIES") ? std::atoi(std::getenv("COPIES")) : 4000;
    const std::string desktop = SetUpIsolatedHome().desktop;
    TempDir folder(desktop);
    const std::string jpeg = SmallJpeg();
    for (int i = 0; i < kCopies; ++i)
        folder.WriteFile("copy" + std::to_string(10000 + i) + "/cover.jpg", jpeg);

    WindowUnderTest w;
    CSnapsiftDlg& dlg = *w.dlg;
    ASSERT_TRUE(w.ChooseDesktopFolder(folder.Path().substr(folder.Path().rfind('/') + 1)));
    QElapsedTimer searching;
    searching.start();
    QTest::mouseClick(dlg.m_searchButton, Qt::LeftButton);
    std::printf("[   NOTE   ] searched in %lld ms\n", static_cast<long long>(searching.elapsed()));
    ASSERT_EQ(dlg.Results().list.GetItemCount(), kCopies);

    // What the helpers were asked to decode, and how many at once.
    PreviewLoader& loader = dlg.Previews().Loader();
    QSet<QByteArray> decoded;
    QObject::connect(&loader, &PreviewLoader::Ready, [&decoded](const QByteArray& path) { decoded.insert(path); });
    FreezeWatch watch;
    watch.Start();
    QElapsedTimer opening;
    opening.start();
    dlg.Previews().OpenCompareWindow(0);
    CompareWindow* compare = dlg.Previews().Compare();
    ASSERT_NE(compare, nullptr);
    ASSERT_EQ(compare->CardCount(), kCopies);
    EXPECT_TRUE(compare->windowTitle().endsWith(QStringLiteral("cover.jpg")));

    const int pitch = kPreviewSide;  // a card is at least as wide as its picture
    const auto inView = [&] { return compare->findChild<QScrollArea*>()->viewport()->width() / pitch + 2; };
    // Widgets for what is in view and about a view's width on either side.
    const auto bound = [&] { return 3 * inView() + 2; };
    int mostAsked = 0;
    const auto settle = [&] {
        return QTest::qWaitFor(
                   [&] {
                       mostAsked = std::max(mostAsked, compare->PicturesAsked());
                       return compare->PicturesAsked() == 0 && !loader.Busy() && !compare->OpeningCopies();
                   },
                   std::getenv("COPIES") ? 10000 : 300000) ||
               (std::printf("asked %d busy %d opening %d\n", compare->PicturesAsked(), int(loader.Busy()),
                            int(compare->OpeningCopies())),
                false);
    };
    ASSERT_TRUE(settle());
    watch.Stop();
    std::printf("[   NOTE   ] opened in %lld ms\n", static_cast<long long>(opening.elapsed()));
    std::printf("[   NOTE   ] %d copies: longest stretch without repainting %.1f ms\n", kCopies, watch.LongestMs());
    EXPECT_LE(compare->BuiltCards(), bound());
    EXPECT_LE(decoded.size(), static_cast<qsizetype>(inView())) << "decoded beyond the cards in view";
    EXPECT_NE(compare->CardPicture(0), nullptr);
    EXPECT_FALSE(compare->CardPicture(0)->pixmap().isNull());
    EXPECT_EQ(compare->CardPicture(kCopies - 1), nullptr);
    // A card out of view still has its text.
    const QString last = compare->CardText(kCopies - 1);
    const std::string lastPath = compare->CardPath(kCopies - 1);
    EXPECT_TRUE(last.contains(QString::fromStdString(lastPath.substr(0, lastPath.rfind('/'))))) << last.toStdString();
    EXPECT_TRUE(last.contains(Q(kPreviewLoadingText))) << last.toStdString();

    // Scrolled through to the end a view at a time: the cards behind let
    // their pictures go, and only a few pictures are asked for at once.
    const int step = std::max(1, inView() - 2);
    int places = 1;
    for (int card = 0; card < kCopies; card += step * 40, ++places) {
        compare->ScrollToCard(card);
        ASSERT_TRUE(settle());
        EXPECT_LE(compare->BuiltCards(), bound()) << "at card " << card;
        EXPECT_LE(compare->PictureBytes(), kPreviewCacheBytes) << "at card " << card;
        ASSERT_NE(compare->CardPicture(card), nullptr);
        EXPECT_FALSE(compare->CardPicture(card)->pixmap().isNull()) << "at card " << card;
        if (card > bound()) {
            EXPECT_EQ(compare->CardPicture(0), nullptr);
        }
    }
    compare->ScrollToCard(kCopies - 1);
    ASSERT_TRUE(settle());
    EXPECT_FALSE(compare->CardPicture(kCopies - 1)->pixmap().isNull());
    EXPECT_LE(mostAsked, CompareWindow::kPicturesAtOnce);
    // Each place scrolled to had its cards in view decoded, and no others.
    EXPECT_LE(decoded.size(), static_cast<qsizetype>((places + 1) * inView()));
    compare->close();
}

// --- Hovers over files on a disk that stops answering --------------------------

class StalledMount {
public:
    // A FAT image served by FUSE, holding `files`; empty Refusal() when mounted.
    // Mounted on `folder`, or on a folder "dead" of `root`; a file's name
    // may have one folder before it.
    StalledMount(const TempDir& root, const std::vector<std::string>& files, const std::string& folder = "")
        : folder_(folder.empty() ? root.MakeFolder("dead") : folder)
    {
        if (!MountRefusal().empty()) {
            refusal_ = "cannot mount: " + MountRefusal();
            return;
        }
        if (access("/dev/fuse", R_OK | W_OK) != 0) {
            refusal_ = "no /dev/fuse";
            return;
        }
        const std::string image = root / "dead.img";
        const std::string picture = root.WriteFile("picture.jpg", SmallJpeg());
        std::string make = "truncate -s 64M '" + image + "' && mkfs.vfat -F 32 '" + image + "' >/dev/null";
        std::set<std::string> folders;
        for (const std::string& name : files) {
            const std::size_t slash = name.find('/');
            if (slash != std::string::npos && folders.insert(name.substr(0, slash)).second)
                make += " && mmd -i '" + image + "' ::/" + name.substr(0, slash);
            make += " && mcopy -i '" + image + "' '" + picture + "' ::/" + name;
        }
        if (std::system(make.c_str()) != 0) {
            refusal_ = "could not make a FAT image (truncate, mkfs.vfat and mcopy needed)";
            return;
        }
        std::string program = "fusefat", foreground = "-f", option = "-o", ro = "ro";
        std::string imageArg = image, folderArg = folder_;
        char* argv[] = {program.data(),  foreground.data(), option.data(), ro.data(),
                        imageArg.data(), folderArg.data(),  nullptr};
        posix_spawn_file_actions_t quiet;  // it reports every request
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const int spawned = posix_spawnp(&daemon_, "fusefat", &quiet, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&quiet);
        if (spawned != 0) {
            daemon_ = -1;
            refusal_ = "fusefat could not be started";
            return;
        }
        if (!QTest::qWaitFor([this] { return Mounted(); }, 20000))
            refusal_ = "fusefat did not mount the image";
    }
    ~StalledMount()
    {
        // Always let it answer again and go, so that nothing stays stuck.
        if (daemon_ > 0) {
            kill(daemon_, SIGCONT);
            umount2(folder_.c_str(), MNT_DETACH);
            kill(daemon_, SIGTERM);
            waitpid(daemon_, nullptr, 0);
        }
        rmdir(folder_.c_str());
    }
    const std::string& Refusal() const { return refusal_; }
    const std::string& Folder() const { return folder_; }
    int Daemon() const { return daemon_; }
    void Stop() { kill(daemon_, SIGSTOP); }
    void Answer() { kill(daemon_, SIGCONT); }

private:
    bool Mounted() const
    {
        std::ifstream mounts("/proc/self/mountinfo");
        std::string line;
        while (std::getline(mounts, line)) {
            if (line.find(" " + folder_ + " ") != std::string::npos)
                return true;
        }
        return false;
    }

    std::string folder_;
    std::string refusal_;
    pid_t daemon_ = -1;
};

TEST(StalledDisk, HoversKeepTheHelpersWithinTheirLimitAndLeaveNoneBehind)
{
    constexpr int kHovers = 60;
    std::vector<std::string> names;
    for (int i = 0; i < kHovers; ++i)
        names.push_back("p" + std::to_string(i) + ".jpg");
    const TempDir root;
    StalledMount mount(root, names);
    if (!mount.Refusal().empty())
        GTEST_SKIP() << mount.Refusal();

    PreviewLoader loader;
    PreviewTip tip(loader, nullptr);
    // One file read while the disk answers: the helpers work.
    tip.ShowFor(mount.Folder() + "/p0.jpg", QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !loader.Busy(); }, 60000));
    ASSERT_TRUE(loader.Find(mount.Folder() + "/p0.jpg")->Ok()) << tip.m_text->text().toStdString();

    // Helpers that wait on the disk are soon given up from now on.
    loader.SetTimeLimit(300);
    mount.Stop();
    const auto helpers = [&] {
        int count = 0;
        for (const auto& [pid, state] : Children())
            count += pid != mount.Daemon();
        return count;
    };
    int most = 0;
    for (int i = 1; i < kHovers; ++i) {
        tip.ShowFor(mount.Folder() + "/" + names[i], QPoint(10, 10));
        QTest::qWait(40);  // the pointer rests a moment on each file
        most = std::max(most, helpers());
        EXPECT_LE(loader.LiveHelpers(), PreviewLoader::kMaxHelpers);
    }
    // The last file hovered gets an answer with its reason, not "loading" for ever.
    const std::string lastPath = mount.Folder() + "/" + names.back();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            most = std::max(most, helpers());
            const PicturePreview* shown = loader.Find(lastPath);
            return shown && !shown->Ok();
        },
        60000));
    const PreviewFailure why = loader.Find(lastPath)->failure;
    EXPECT_TRUE(why == PreviewFailure::TookTooLong || why == PreviewFailure::HelpersStuck) << int(why);
    EXPECT_EQ(tip.m_text->text().contains(Q(kTookTooLongReasonText)) ||
                  tip.m_text->text().contains(Q(kHelpersStuckReasonText)),
              true)
        << tip.m_text->text().toStdString();
    std::printf("[   NOTE   ] at most %d helper processes alive, %d stuck before the disk answered\n", most,
                loader.StuckHelpers());
    EXPECT_LE(most, PreviewLoader::kMaxHelpers);

    // Once the disk answers, the killed helpers go and are reaped: no zombie
    // stays, and no process but the running helpers.
    mount.Answer();
    const auto settled = [&] {
        int zombies = 0, others = 0;
        for (const auto& [pid, state] : Children()) {
            zombies += state == 'Z';
            others += pid != mount.Daemon();
        }
        return loader.LiveHelpers() == loader.RunningHelpers() && zombies == 0 && others <= loader.RunningHelpers();
    };
    EXPECT_TRUE(QTest::qWaitFor(settled, 60000));
    for (const auto& [pid, state] : Children())
        EXPECT_NE(state, 'Z') << "zombie " << pid;
    EXPECT_LE(loader.LiveHelpers(), PreviewLoader::kMaxHelpers);
}

// The side-by-side window of copies on a disk that stops answering: it opens
// and answers at once, its content marks come once the disk answers again.
TEST(StalledDisk, SideBySideWindowOpensCopiesBesideTheWindow)
{
    const std::string desktop = SetUpIsolatedHome().desktop;
    const TempDir root;
    const std::string folder = desktop + "/stalled";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    StalledMount mount(root, {"a/cover.jpg", "b/cover.jpg", "c/cover.jpg"}, folder);
    if (!mount.Refusal().empty())
        GTEST_SKIP() << mount.Refusal();
    {
        WindowUnderTest w;
        CSnapsiftDlg& dlg = *w.dlg;
        ASSERT_TRUE(w.ChooseDesktopFolder("stalled"));
        QTest::mouseClick(dlg.m_searchButton, Qt::LeftButton);
        ASSERT_EQ(dlg.Results().list.GetItemCount(), 3);

        mount.Stop();
        {
            // Nothing here may wait on the disk; a wait ends the run.
            const Watchdog watchdog("the side-by-side window on a stalled disk", 120);
            dlg.Previews().OpenCompareWindow(0);
            CompareWindow* compare = dlg.Previews().Compare();
            ASSERT_NE(compare, nullptr);
            EXPECT_EQ(compare->CardCount(), 3);
            dlg.Previews().ContentChecked();  // as after a check: the marks are looked for again
            QTest::qWait(500);                // the window's loop runs meanwhile
            EXPECT_TRUE(compare->OpeningCopies());
        }
        mount.Answer();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg.Previews().Compare()->OpeningCopies(); }, 60000));
        dlg.Previews().Compare()->close();
    }
}

}  // namespace
}  // namespace snapsift::testing

int main(int argc, char** argv)
{
    return snapsift::testing::RunWindowTests(argc, argv, [] { snapsift::PreviewLoader::SetDefaultTimeLimit(600000); });
}
