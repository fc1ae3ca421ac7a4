// SPDX-License-Identifier: MIT
// Times the window's own handlers on a bench tree, without a display
// (QT_QPA_PLATFORM=offscreen) or under a virtual one: search and fill, the
// automatic selection over every row, and the deletion of N selected files to
// a private trash, confirmed by a messenger that always answers OK. The moved
// files are put back afterwards, so the tree can be measured again.
//
//   window_bench --tree DIR --work DIR [--delete N] [--other EXT] [--mark FILE]
//   window_bench --tree DIR --work DIR --end escape|quit|close-idle [--after-ms N]
//
// With --end it times how a search or the window ends instead, with Esc and
// 終了 made by xdotool through the X server (a display is needed), each
// timed from its arrival in the program: Esc pressed N ms into the search
// (default 100) until the stopped search's message shows
// (escape_to_stopped_ms); 終了 clicked N ms into the search (quit_pressed_at,
// a CLOCK_REALTIME time, printed as the program ends: the caller times the
// process's end); the close box of the idle window after a whole search
// (close_pressed_at, printed at once).
//
// The desktop folder is made the parent of DIR, so DIR is one of the target
// tree's first items, as a user would find it. Prints key=value lines.
#include "freeze_watch.h"
#include "platform/memory.h"
#include "ui/fact_texts.h"
#include "ui/preview/preview_helper.h"
#include "ui/window/messenger.h"
#include "ui/window/snapsift_dlg.h"
#include "ui/window_texts.h"

#include <glib.h>

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "window_bench: %s\n", what.c_str());
    std::exit(1);
}

// Answers OK to every box and keeps what it was asked.
class AutoOkMessenger final : public snapsift::Messenger {
public:
    snapsift::MessageAnswer Show(const snapsift::MessageRequest& request) override
    {
        if (shown.empty())
            firstShown = Clock::now();
        if (request.buttons == snapsift::MessageButtons::OkCancel && !asked)
            asked = Clock::now();
        shown.push_back(request);
        return snapsift::MessageAnswer::Ok;
    }
    std::vector<snapsift::MessageRequest> shown;
    Clock::time_point firstShown;
    std::optional<Clock::time_point> asked;  // the first question with OK and Cancel
};

void Flush()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

std::string Parent(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

void MakeFolder(const std::string& path)
{
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        Fail("cannot create " + path);
}

// A .trashinfo Path= value unescaped, as the trash itself does it.
std::string PercentDecoded(const std::string& text)
{
    gchar* raw = g_uri_unescape_string(text.c_str(), nullptr);
    std::string out = raw ? raw : "";
    g_free(raw);
    return out;
}

// Moves every file of the private trash back to where it came from.
int RestoreTrash(const std::string& trash)
{
    int restored = 0;
    DIR* info = opendir((trash + "/info").c_str());
    if (!info)
        return 0;
    while (const dirent* e = readdir(info)) {
        const std::string entry = e->d_name;
        const std::string suffix = ".trashinfo";
        if (entry.size() <= suffix.size() || entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        std::ifstream in(trash + "/info/" + entry);
        std::string line, original;
        while (std::getline(in, line)) {
            if (line.rfind("Path=", 0) == 0)
                original = PercentDecoded(line.substr(5));
        }
        const std::string stored = trash + "/files/" + entry.substr(0, entry.size() - suffix.size());
        if (original.empty() || rename(stored.c_str(), original.c_str()) != 0)
            Fail("cannot put back " + stored + " to " + original);
        unlink((trash + "/info/" + entry).c_str());
        ++restored;
    }
    closedir(info);
    return restored;
}

long VmHwmKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Now on the wall clock, in seconds, for another process to compare with.
void PrintWallClock(const char* key)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::printf("%s=%lld.%06ld\n", key, static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
    std::fflush(stdout);
}

// Starts xdotool with `args` and does not wait for it: the window's thread
// goes on taking events, among them the ones xdotool makes through the X
// server, as a person's click or key would come.
void Xdotool(const std::vector<std::string>& args)
{
    std::vector<std::string> all = {"xdotool"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "xdotool", nullptr, nullptr, argv.data(), environ) != 0)
        Fail("xdotool could not be started: the end times need it, and a display");
}

// When the first key or button press from the X server reached the
// program: the time a person's Esc or click counts from, whatever xdotool
// took to start.
class PressArrival final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        // An xcb event starts with its type: 2 is a key press, 4 a button
        // press; 35 an extension's event, whose type (bytes 8 and 9) is 4 for
        // the button press of the input extension that Qt listens to.
        if (!seen && type == "xcb_generic_event_t") {
            const auto* bytes = static_cast<const std::uint8_t*>(message);
            const unsigned kind = bytes[0] & 0x7fu;
            std::uint16_t extensionKind = 0;
            std::memcpy(&extensionKind, bytes + 8, sizeof extensionKind);
            if (kind == 2 || kind == 4 || (kind == 35 && extensionKind == 4)) {
                seen = true;
                at = Clock::now();
                clock_gettime(CLOCK_REALTIME, &wall);
            }
        }
        return false;
    }
    bool seen = false;
    Clock::time_point at;
    timespec wall{};
};

// A widget's middle on the screen, in the X server's pixels.
std::vector<std::string> ScreenMiddle(const QWidget* widget)
{
    const QPoint at = widget->mapToGlobal(widget->rect().center());
    const qreal ratio = widget->devicePixelRatioF();
    return {std::to_string(static_cast<int>(at.x() * ratio)), std::to_string(static_cast<int>(at.y() * ratio))};
}

// Times how a search or the window ends (see --end above); never returns.
[[noreturn]] void TimeTheEnd(snapsift::CSnapsiftDlg& window, AutoOkMessenger& messenger, const std::string& end,
                             int afterMs)
{
    if (end == "close-idle") {
        window.OnSearch();
        Flush();
        QTimer::singleShot(0, &window, [&window] {
            PrintWallClock("close_pressed_at");
            window.close();
        });
        window.exec();
        snapsift::EndProgram(0);
    }
    // Esc and the click come from the X server, made by xdotool; the time
    // counts from their arrival in the program.
    if (!QTest::qWaitForWindowExposed(&window, 10000))
        Fail("the window did not show: the end times need a display");
    window.activateWindow();
    static_cast<void>(QTest::qWaitForWindowActive(&window, 10000));  // without a window manager it may not be
    PressArrival arrival;
    QCoreApplication::instance()->installNativeEventFilter(&arrival);
    Clock::time_point pressed;
    QTimer::singleShot(afterMs, &window, [&] {
        std::vector<std::string> args = {"mousemove"};
        const std::vector<std::string> at =
            ScreenMiddle(end == "escape" ? static_cast<QWidget*>(&window) : window.m_quitButton);
        args.insert(args.end(), at.begin(), at.end());
        pressed = Clock::now();
        if (end == "escape") {
            args.insert(args.end(), {"key", "Escape"});
        } else {
            PrintWallClock("xdotool_started_at");
            args.insert(args.end(), {"click", "1"});
        }
        Xdotool(args);
    });
    window.OnSearch();
    if (end == "quit") {
        if (!window.isVisible() && arrival.seen) {
            std::printf("quit_pressed_at=%lld.%06ld\n", static_cast<long long>(arrival.wall.tv_sec),
                        arrival.wall.tv_nsec / 1000);
            snapsift::EndProgram(0);
        }
        Fail("the window stayed open after 終了");
    }
    if (arrival.seen)
        pressed = arrival.at;
    if (messenger.shown.size() != 1 || messenger.shown[0].text != snapsift::kSearchStoppedText)
        Fail("the search ended before Esc, or showed no message; try a smaller --after-ms");
    std::printf("escape_to_stopped_ms=%.1f\n", Seconds(pressed, messenger.firstShown) * 1000);
    std::printf("rows_when_stopped=%d\n", window.Results().list.GetItemCount());
    snapsift::EndProgram(0);
}

}  // namespace

int main(int argc, char** argv)
{
    // The window's preview helpers are this program started again.
    if (snapsift::IsPreviewHelperCall(argc, argv))
        return snapsift::RunPreviewHelper();
    std::string tree, work, other = "png", mark, end;
    int deleteCount = 1000, afterMs = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--tree")
            tree = argv[i + 1];
        else if (a == "--work")
            work = argv[i + 1];
        else if (a == "--delete")
            deleteCount = std::atoi(argv[i + 1]);
        else if (a == "--other")
            other = argv[i + 1];
        else if (a == "--mark")
            mark = argv[i + 1];
        else if (a == "--end")
            end = argv[i + 1];
        else if (a == "--after-ms")
            afterMs = std::atoi(argv[i + 1]);
        else
            Fail("unknown option " + a);
    }
    if (tree.empty() || work.empty() || tree[0] != '/' || work[0] != '/')
        Fail("usage: window_bench --tree /DIR --work /DIR [--delete N] [--other EXT] [--mark FILE]");
    while (tree.size() > 1 && tree.back() == '/')
        tree.pop_back();

    // GLib reads the desktop and trash folders once, at its first use: set
    // them before anything else runs. The trash must be on the tree's file
    // system so moving a file there is a rename.
    MakeFolder(work);
    MakeFolder(work + "/config");
    MakeFolder(work + "/data");
    {
        std::ofstream dirs(work + "/config/user-dirs.dirs");
        dirs << "XDG_DESKTOP_DIR=\"" << Parent(tree) << "\"\n";
    }
    setenv("XDG_CONFIG_HOME", (work + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (work + "/data").c_str(), 1);
    setenv("XDG_STATE_HOME", (work + "/state").c_str(), 1);  // a fallback log, were one needed
    const std::string logPath = work + "/DeleteLog.log";
    unlink(logPath.c_str());

    snapsift::LimitMemoryPools();  // as the program does before its window starts
    QApplication app(argc, argv);
    AutoOkMessenger messenger;
    snapsift::WindowServices services;
    services.messenger = &messenger;
    services.openFile = [](const std::string&) {};
    services.deletionLogPath = logPath;
    snapsift::CSnapsiftDlg window(services);
    FreezeWatch watch;
    window.show();
    Flush();

    // Pick the tree folder in the target tree, tick every type and the extension.
    const snapsift::SearchTargets& targets = window.Targets();
    int node = -1;
    for (int i = 0; i < static_cast<int>(targets.nodes.size()); ++i) {
        const int row = targets.nodes[i].row;
        if (row >= 0 && targets.folders.m_folderPaths[row] == tree)
            node = i;
    }
    if (node < 0)
        Fail("the target tree does not offer " + tree);
    window.m_folderTree->setCurrentItem(window.TreeItemOfNode(node));
    window.m_checkJpeg->setChecked(true);
    window.m_checkBmp->setChecked(true);
    window.m_checkGif->setChecked(true);
    if (!window.m_checkOther->isChecked())
        window.m_checkOther->click();
    window.m_otherExt->setText(QString::fromStdString(other));
    Flush();
    const long baseKiB = VmHwmKiB();
    if (!mark.empty())
        std::ofstream(mark) << "searching\n";

    if (!end.empty())
        TimeTheEnd(window, messenger, end, afterMs);

    const snapsift::ResultView& results = window.Results();
    watch.Start();
    const auto searchStart = Clock::now();
    window.OnSearch();
    const auto searchEnd = Clock::now();
    Flush();
    const auto searchShown = Clock::now();
    watch.Stop();
    const double searchGap = watch.LongestMs();
    const int searchTurns = watch.Turns();
    if (!messenger.shown.empty())
        Fail("the search showed a message: " + messenger.shown.front().text);
    const int rows = results.list.GetItemCount();
    const long searchKiB = VmHwmKiB();

    std::size_t textBytes = 0;
    const snapsift::FileTable& table = results.table;
    for (int k = 0; k < table.RowCount(); ++k)
        textBytes += table.Name(k).size() + snapsift::SizeText(table.Size(k)).size() +
                     snapsift::DateText(table.CreationTime(k)).size() + table.Path(k).size();

    watch.Start();
    const auto autoStart = Clock::now();
    window.OnAutoSelect();
    Flush();
    const auto autoEnd = Clock::now();
    watch.Stop();
    const double autoGap = watch.LongestMs();
    const long autoKiB = VmHwmKiB();
    // The selection lives in the list's own selection model alone.
    int autoSelected = 0;
    for (const QItemSelectionRange& range : window.m_resultList->selectionModel()->selection())
        autoSelected += range.height();

    // Delete rows spread evenly over the list.
    deleteCount = std::min(deleteCount, rows);
    double deleteSeconds = 0, deleteGap = 0, confirmSeconds = 0;
    int deleted = 0, restored = 0;
    if (deleteCount > 0) {
        QAbstractItemModel* model = window.m_resultList->model();
        QItemSelection pick;
        for (int i = 0; i < deleteCount; ++i) {
            const int row = static_cast<int>(static_cast<long long>(i) * rows / deleteCount);
            pick.select(model->index(row, 0), model->index(row, model->columnCount() - 1));
        }
        window.m_resultList->selectionModel()->select(pick, QItemSelectionModel::ClearAndSelect);
        const int before = table.RowCount();
        // What automatic selection said (copies whose contents differ) is not the deletion's.
        messenger.shown.clear();
        messenger.asked.reset();
        watch.Start();
        const auto deleteStart = Clock::now();
        window.OnDeleteSelected();
        Flush();
        deleteSeconds = Seconds(deleteStart, Clock::now());
        if (messenger.asked)
            confirmSeconds = Seconds(deleteStart, *messenger.asked);
        watch.Stop();
        deleteGap = watch.LongestMs();
        deleted = before - table.RowCount();
        if (messenger.shown.size() != 1 || messenger.shown[0].buttons != snapsift::MessageButtons::OkCancel)
            Fail("the deletion did not just ask for confirmation: " + messenger.shown.back().text);
        restored = RestoreTrash(work + "/data/Trash");
        if (deleted != deleteCount || restored != deleteCount)
            Fail("deleted " + std::to_string(deleted) + " and put back " + std::to_string(restored) + " of " +
                 std::to_string(deleteCount));
    }
    struct stat log { };
    stat(logPath.c_str(), &log);
    unlink(logPath.c_str());

    std::printf("rows=%d\n", rows);
    std::printf("text_bytes=%zu\n", textBytes);
    std::printf("search_s=%.6f\n", Seconds(searchStart, searchEnd));
    std::printf("search_shown_s=%.6f\n", Seconds(searchStart, searchShown));
    std::printf("search_event_loop_turns=%d\n", searchTurns);
    std::printf("search_longest_freeze_ms=%.1f\n", searchGap);
    std::printf("autoselect_s=%.6f\n", Seconds(autoStart, autoEnd));
    std::printf("autoselect_longest_freeze_ms=%.1f\n", autoGap);
    std::printf("autoselected=%d\n", autoSelected);
    std::printf("deleted=%d\n", deleted);
    std::printf("delete_s=%.6f\n", deleteSeconds);
    std::printf("delete_confirm_s=%.6f\n", confirmSeconds);
    std::printf("delete_files_per_s=%.1f\n", deleteSeconds > 0 ? deleted / deleteSeconds : 0.0);
    std::printf("delete_longest_freeze_ms=%.1f\n", deleteGap);
    std::printf("log_bytes=%lld\n", static_cast<long long>(log.st_size));
    std::printf("vmhwm_before_search_kib=%ld\n", baseKiB);
    std::printf("vmhwm_after_search_kib=%ld\n", searchKiB);
    std::printf("vmhwm_after_autoselect_kib=%ld\n", autoKiB);
    std::printf("vmhwm_kib=%ld\n", VmHwmKiB());
    return 0;
}
