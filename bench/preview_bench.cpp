// SPDX-License-Identifier: MIT
// Times picture previews in the window: a 24-megapixel JPEG (two copies of
// one name) and a few small ones, warm page cache. Measures, for the first
// tooltip with a cold thumbnail cache, how long it took against decoding the
// same file on this thread (the window's way before the helpers), the
// longest stretch in which the window's event loop did not run while the
// tooltip's and the side-by-side window's pictures were decoded; and, in a
// second run of this program (a restart), the tooltip from the thumbnail
// cache the first run wrote.
//
//   preview_bench --work DIR [--megapixels N] [--phase cold|warm]
//
// DIR is made the desktop folder; the pictures go to DIR/photos, the
// thumbnail cache to DIR/cache/thumbnails (emptied by the cold phase).
// Prints key=value lines.
#include "freeze_watch.h"
#include "ui/preview/compare_window.h"
#include "ui/preview/picture_preview.h"
#include "ui/preview/preview_helper.h"
#include "ui/preview/preview_tip.h"
#include "ui/preview/result_previews.h"
#include "ui/window/snapsift_dlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "preview_bench: %s\n", what.c_str());
    std::exit(1);
}

void MakeFolder(const std::string& path)
{
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        Fail("cannot create " + path);
}

// A photo-like picture: smooth gradients with fine noise, so the JPEG is
// about as large as a camera's.
void WritePhoto(const std::string& path, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 28);
            line[x] =
                qRgb((x * 255 / width + noise) & 255, (y * 255 / height + noise) & 255, ((x + y) / 64 + noise) & 255);
        }
    }
    QImageWriter writer(QString::fromStdString(path), "jpeg");
    writer.setQuality(90);
    if (!writer.write(image))
        Fail("cannot write " + path);
}

void CopyFile(const std::string& from, const std::string& to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
}

// This process's status line `key` in KiB.
long long StatusKib(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::atoll(line.c_str() + std::strlen(key));
    }
    return -1;
}

// Makes the peak that VmHWM shows start again from the present.
bool ResetPeakMemory()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

struct Run {
    double seconds = 0;
    double longestMs = 0;
    int turns = 0;
};

// Runs `start`, then the event loop until `busy` turns false, with the list
// scrolled on every turn as a user's wheel would.
template <typename Start, typename Busy>
Run Measure(snapsift::CSnapsiftDlg& window, Start start, Busy busy)
{
    FreezeWatch watch;
    QTimer scroll;
    scroll.setInterval(2);
    QObject::connect(&scroll, &QTimer::timeout, &window, [&window] {
        QScrollBar* bar = window.m_resultList->verticalScrollBar();
        bar->setValue(bar->value() == bar->minimum() ? bar->maximum() : bar->minimum());
    });
    watch.Start();
    scroll.start();
    const auto t0 = Clock::now();
    start();
    while (busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    QCoreApplication::processEvents();
    const auto t1 = Clock::now();
    scroll.stop();
    watch.Stop();
    return {std::chrono::duration<double>(t1 - t0).count(), watch.LongestMs(), watch.Turns()};
}

// Until the loader has answered.
template <typename Start>
Run Measure(snapsift::CSnapsiftDlg& window, Start start)
{
    snapsift::PreviewLoader& loader = window.Previews().Loader();
    return Measure(window, start, [&loader] { return loader.Busy(); });
}

}  // namespace

int main(int argc, char** argv)
{
    // The window's preview helpers are this program started again.
    if (snapsift::IsPreviewHelperCall(argc, argv))
        return snapsift::RunPreviewHelper();
    std::string work;
    double megapixels = 24;
    std::string phase = "cold";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--work")
            work = argv[i + 1];
        else if (a == "--megapixels")
            megapixels = std::atof(argv[i + 1]);
        else if (a == "--phase")
            phase = argv[i + 1];
        else
            Fail("unknown option " + a);
    }
    if (work.empty() || work[0] != '/' || (phase != "cold" && phase != "warm"))
        Fail("usage: preview_bench --work /DIR [--megapixels N] [--phase cold|warm]");

    MakeFolder(work);
    MakeFolder(work + "/config");
    MakeFolder(work + "/photos");
    MakeFolder(work + "/photos/a");
    MakeFolder(work + "/photos/b");
    std::ofstream(work + "/config/user-dirs.dirs") << "XDG_DESKTOP_DIR=\"" << work << "\"\n";
    setenv("XDG_CONFIG_HOME", (work + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (work + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (work + "/cache").c_str(), 1);
    if (phase == "cold" && std::system(("rm -rf '" + work + "/cache/thumbnails'").c_str()) != 0)
        Fail("cannot empty the thumbnail cache");
    setenv("XDG_STATE_HOME", (work + "/state").c_str(), 1);

    QApplication app(argc, argv);
    const int height = static_cast<int>(std::sqrt(megapixels * 1e6 * 3 / 4));
    const int width = height * 4 / 3;
    const std::string big = work + "/photos/a/IMG_0001.JPG";
    struct stat st { };
    if (stat(big.c_str(), &st) != 0 || st.st_size == 0) {
        WritePhoto(big, width, height);
        CopyFile(big, work + "/photos/b/IMG_0001.JPG");
        for (int i = 0; i < 20; ++i)
            WritePhoto(work + "/photos/a/small_" + std::to_string(i) + ".jpg", 640, 480);
    }
    stat(big.c_str(), &st);

    snapsift::LoadPicturePreview(big);  // warms the page cache

    snapsift::WindowServices services;
    services.openFile = [](const std::string&) {};
    services.deletionLogPath = work + "/DeleteLog.log";
    snapsift::CSnapsiftDlg window(services);
    window.show();
    QCoreApplication::processEvents();
    QTreeWidgetItem* desktop = window.m_folderTree->topLevelItem(1);
    QTreeWidgetItem* photos = nullptr;
    for (int i = 0; desktop && i < desktop->childCount(); ++i) {
        if (desktop->child(i)->text(0) == QStringLiteral("photos"))
            photos = desktop->child(i);
    }
    if (!photos)
        Fail("the target tree does not offer " + work + "/photos");
    window.m_folderTree->setCurrentItem(photos);
    window.OnSearch();

    const snapsift::ResultView& results = window.Results();
    int row = -1;
    for (int r = 0; r < results.list.GetItemCount(); ++r) {
        if (results.table.Path(results.list.TableRow(r)) == big)
            row = r;
    }
    if (row < 0)
        Fail("the search did not list " + big);
    QTreeView* list = window.m_resultList;
    auto hover = [&] {
        const QModelIndex index = list->model()->index(row, 0);
        list->scrollTo(index);
        const QPoint pos = list->visualRect(index).center();
        QHelpEvent help(QEvent::ToolTip, pos, list->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(list->viewport(), &help);
    };
    // The pointer moves onto the list (the first helper starts), rests for
    // the hover delay, and the tooltip asks for the picture. The window's
    // own peak memory is taken from here on.
    const bool peakReset = ResetPeakMemory();
    window.Previews().Loader().Prepare();
    QElapsedTimer rest;
    rest.start();
    while (rest.elapsed() < snapsift::ResultPreviews::kHoverDelayMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    const Run tip = Measure(window, hover);
    const snapsift::PicturePreview* shown = window.Previews().Loader().Find(big);
    const QString tipText = window.Previews().Tip().m_text->text();
    std::printf("picture=%dx%d\n", width, height);
    std::printf("file_bytes=%lld\n", static_cast<long long>(st.st_size));
    std::printf("tooltip_text=%s\n", tipText.toStdString().c_str());
    std::printf("from_thumbnail=%d\n", shown && shown->fromThumbnail ? 1 : 0);
    std::printf("tooltip_ready_s=%.3f\n", tip.seconds);
    std::printf("tooltip_longest_stall_ms=%.1f\n", tip.longestMs);
    std::printf("tooltip_event_loop_turns=%d\n", tip.turns);
    if (phase == "warm")
        return 0;
    const Run cached = Measure(window, hover);
    const Run compare = Measure(window, [&] { window.Previews().OpenCompareWindow(row); });
    std::printf("cached_tooltip_ready_s=%.3f\n", cached.seconds);
    std::printf("cached_tooltip_longest_stall_ms=%.1f\n", cached.longestMs);
    std::printf("compare_window_ready_s=%.3f\n", compare.seconds);
    std::printf("compare_window_longest_stall_ms=%.1f\n", compare.longestMs);
    std::printf("compare_window_event_loop_turns=%d\n", compare.turns);
    if (peakReset)
        std::printf("window_previews_vmhwm_kib=%lld\n", StatusKib("VmHWM:"));

    // The window's way before the helpers, measured the same way: the
    // decode in this process, on a thread of its own while the window goes
    // on; the best of three.
    double inProcessSeconds = 1e9;
    for (int i = 0; i < 3; ++i) {
        std::atomic<bool> done = false;
        std::thread worker;
        const Run run = Measure(
            window,
            [&] {
                worker = std::thread([&] {
                    if (!snapsift::LoadPicturePreview(big).Ok())
                        Fail("cannot preview " + big);
                    done = true;
                });
            },
            [&done] { return !done; });
        worker.join();
        inProcessSeconds = std::min(inProcessSeconds, run.seconds);
    }
    std::printf("in_process_s=%.3f\n", inProcessSeconds);
    return 0;
}
