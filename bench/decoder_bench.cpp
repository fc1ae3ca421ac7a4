// SPDX-License-Identifier: MIT
// Times the first tooltip of today's camera files through the preview
// helper: a 12-megapixel HEIC (as a phone writes it, with its thumbnail)
// and a 24-megapixel RAW file through its embedded full-size JPEG preview,
// with no thumbnail cached; then, after a restart of the loader, the tooltip
// from the thumbnail cache, with the bytes its helper read. The RAW file's
// preview is also timed as a JPEG file of its own, to tell the RAW path's
// cost from the JPEG decoder's; and a 24-megapixel NEF that also embeds a
// medium-sized preview, which the tooltip decodes instead.
//
//   decoder_bench --work DIR
//
// The pictures are made once in DIR (the HEIC with heif-enc); the thumbnail
// cache is DIR/cache/thumbnails, emptied first. Prints key=value lines.
#include "support/picture_samples.h"
#include "ui/preview/picture_preview.h"
#include "ui/preview/preview_helper.h"
#include "ui/preview/preview_tip.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImageWriter>
#include <QLabel>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace snapsift;

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "decoder_bench: %s\n", what.c_str());
    std::exit(1);
}

bool Exists(const std::string& path)
{
    struct stat st { };
    return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

long long FileBytes(const std::string& path)
{
    struct stat st { };
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// A photo-like picture: gradients with fine noise.
QImage Photo(int width, int height)
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
    return image;
}

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
    if (FileBytes(path) != static_cast<long long>(bytes.size()))
        Fail("cannot write " + path);
}

// What this process's helpers have read so far (the rchar of /proc/PID/io).
long long HelpersRead()
{
    long long total = 0;
    const std::string parent = "PPid:\t" + std::to_string(getpid());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const std::string dir = "/proc/" + entry.toStdString();
        std::ifstream cmdline(dir + "/cmdline");
        const std::string command((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
        if (command.find(kDecodePreviewOption) == std::string::npos)
            continue;
        std::ifstream status(dir + "/status");
        std::string line;
        bool ours = false;
        while (std::getline(status, line))
            ours = ours || line == parent;
        std::ifstream io(dir + "/io");
        std::string key;
        long long value = 0;
        while (ours && io >> key >> value) {
            if (key == "rchar:")
                total += value;
        }
    }
    return total;
}

// Lets the event loop run for `ms` without spinning: a busy wait here would
// take a core from the helper being timed.
void Idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop, sleeping between events, until the loader has answered.
void WaitForAnswer(const PreviewLoader& loader)
{
    QTimer wake;  // Busy() is looked at again at least this often
    wake.start(20);
    while (loader.Busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

struct Tip {
    double seconds = 0;
    QString line;
    bool fromThumbnail = false;
    long long helperRead = 0;
};

// A fresh loader (a restart), its helper started and settled, then the
// tooltip of `path`.
Tip FirstTooltip(const std::string& path)
{
    PreviewLoader loader;
    PreviewTip tip(loader, nullptr);
    loader.Prepare();
    Idle(1500);  // the helper has loaded its libraries, as while the pointer comes to rest
    const long long before = HelpersRead();
    QElapsedTimer timer;
    timer.start();
    tip.ShowFor(path, QPoint(10, 10));
    WaitForAnswer(loader);
    Tip result;
    result.seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    result.line = tip.m_text->text();
    const PicturePreview* preview = loader.Find(path);
    result.fromThumbnail = preview && preview->fromThumbnail;
    result.helperRead = HelpersRead() - before;
    // The helper stores the thumbnail after answering: wait for it.
    Idle(1000);
    return result;
}

void Print(const char* key, const Tip& tip, long long fileBytes)
{
    std::printf("%s_s=%.3f\n%s_text=%s\n%s_from_thumbnail=%d\n%s_helper_read_bytes=%lld\n%s_file_bytes=%lld\n", key,
                tip.seconds, key, tip.line.toStdString().c_str(), key, tip.fromThumbnail ? 1 : 0, key, tip.helperRead,
                key, fileBytes);
}

}  // namespace

int main(int argc, char** argv)
{
    if (IsPreviewHelperCall(argc, argv))
        return RunPreviewHelper();
    if (argc != 3 || std::string(argv[1]) != "--work" || argv[2][0] != '/')
        Fail("usage: decoder_bench --work /DIR");
    const std::string work = argv[2];
    if (std::system(("mkdir -p '" + work + "' && rm -rf '" + work + "/cache'").c_str()) != 0)
        Fail("cannot prepare " + work);
    setenv("XDG_CACHE_HOME", (work + "/cache").c_str(), 1);
    QApplication app(argc, argv);
    PreviewLoader::SetDefaultTimeLimit(60000);

    const std::string heic = work + "/IMG_0001.HEIC";
    if (!Exists(heic)) {
        // 4032 × 3024, as a phone's; with its 320-pixel thumbnail, as a phone stores one.
        const std::string png = work + "/photo-12mp.png";
        Photo(4032, 3024).save(QString::fromStdString(png), "png");
        if (!testing::RunTool("heif-enc -q 80 -t 320 '" + png + "' -o '" + heic + "'") ||
            !testing::RunTool("heif-enc -q 80 '" + png + "' -o '" + work + "/IMG_0002.HEIC'") ||
            !testing::RunTool("cjxl --quiet -e 3 '" + png + "' '" + work + "/IMG_0003.JXL'"))
            Fail("heif-enc or cjxl could not make the pictures in " + work);
    }
    const std::string raw = work + "/DSC_0001.DNG";
    if (!Exists(raw)) {
        // 6000 × 4000 RAW data with a full-size JPEG preview, as most cameras embed.
        const std::string jpeg = testing::JpegWithExif(Photo(6000, 4000), 0, "2024:05:01 10:20:30", "Bench Body");
        Write(raw, testing::DngBytes(jpeg, {6000, 4000}, {6000, 4000}, 1));
        Write(work + "/DSC_0001.JPG", jpeg);
    }
    const std::string twoPreviews = work + "/DSC_0002.NEF";
    if (!Exists(twoPreviews)) {
        // The same picture as a NEF that also embeds a 1620 × 1080 preview, as
        // many cameras add beside the full-size one: the tooltip decodes that.
        const QImage photo = Photo(6000, 4000);
        testing::CameraRaw camera{testing::RawLayout::Nef,
                                  "NIKON CORPORATION",
                                  "NIKON D850",
                                  testing::JpegWithExif(photo, 0, "2024:05:01 10:20:30", "NIKON D850"),
                                  {6000, 4000},
                                  1};
        camera.smallerJpeg =
            testing::JpegWithExif(photo.scaled(1620, 1080, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), 0);
        Write(twoPreviews, testing::CameraRawBytes(camera));
    }
    // Warm page cache: the cost measured is the decoding's, not the disk's.
    FileBytes(heic);
    std::ifstream(heic, std::ios::binary).ignore(std::numeric_limits<std::streamsize>::max());
    std::ifstream(raw, std::ios::binary).ignore(std::numeric_limits<std::streamsize>::max());
    std::ifstream(twoPreviews, std::ios::binary).ignore(std::numeric_limits<std::streamsize>::max());

    Print("heic_12mp_first_tooltip", FirstTooltip(heic), FileBytes(heic));
    // The same picture with no thumbnail inside: the whole 12 megapixels decoded.
    Print("heic_12mp_no_thumbnail_first_tooltip", FirstTooltip(work + "/IMG_0002.HEIC"),
          FileBytes(work + "/IMG_0002.HEIC"));
    // libjxl decodes the whole picture, under the helper's memory limit.
    Print("jxl_12mp_first_tooltip", FirstTooltip(work + "/IMG_0003.JXL"), FileBytes(work + "/IMG_0003.JXL"));
    Print("raw_24mp_first_tooltip", FirstTooltip(raw), FileBytes(raw));
    Print("raw_24mp_medium_preview_first_tooltip", FirstTooltip(twoPreviews), FileBytes(twoPreviews));
    Print("its_preview_as_jpeg_first_tooltip", FirstTooltip(work + "/DSC_0001.JPG"), FileBytes(work + "/DSC_0001.JPG"));
    Print("raw_24mp_thumbnail_tooltip", FirstTooltip(raw), FileBytes(raw));
    Print("heic_12mp_thumbnail_tooltip", FirstTooltip(heic), FileBytes(heic));
    return 0;
}
