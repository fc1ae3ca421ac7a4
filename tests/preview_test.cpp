// SPDX-License-Identifier: MIT
// The preview decoders, each on real files made here with Debian's own
// tools, through the real helper process: the picture, its size and
// orientation, its capture facts; the thumbnail cache's part; long paths.
#include "preview_checks.h"
#include "support/picture_samples.h"
#include "support/temp_tree.h"
#include "ui/preview/decode/decoders.h"
#include "ui/preview/picture_preview.h"
#include "ui/preview/preview_helper.h"
#include "ui/preview/preview_tip.h"
#include "ui/preview/thumbnail_cache.h"
#include "ui/window_texts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QTest>

#include <climits>
#include <fcntl.h>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift {
namespace {

using testing::TempDir;

struct PictureCase {
    const char* name;
    const char* tool;  // the command that makes the file ({in}, {out}), or "" for none
    std::function<std::string(const TempDir&)> make;
    QString line;
    QSize picture;
    RedAt red;
    QString facts;
};

QString FactsLines(const char* time, const char* camera)
{
    return Q(kCaptureTimeText).arg(Q(time)) + '\n' + Q(kCameraText).arg(Q(camera));
}

std::vector<PictureCase> PictureCases()
{
    const QImage halves = testing::HalvesImage(400, 300);
    const std::string png = testing::PngBytes(halves);
    const std::string turned = testing::JpegWithExif(halves, 6, "2024:05:01 10:20:30", "TestCam X1");
    return {
        {"plain.heic",
         "heif-enc",
         [=](const TempDir& w) { return MadeBy(w, png, "in.png", "heif-enc -q 70 {in} -o {out}", "out.heic"); },
         Q("400 × 300 HEIC"),
         {256, 192},
         RedAt::Left,
         {}},
        // irot says a quarter turn: shown upright as 300 × 400.
        {"turned.heic",
         "",
         [=](const TempDir&) { return testing::HeicWithOrientation(halves, 6); },
         Q("300 × 400 HEIC"),
         {192, 256},
         RedAt::Top,
         {}},
        // A HEIC keeps the camera's EXIF, orientation and all; only irot turns it.
        {"exif.heic",
         "heif-enc",
         [=](const TempDir& w) { return MadeBy(w, turned, "in.jpg", "heif-enc -q 70 {in} -o {out}", "out.heic"); },
         Q("400 × 300 HEIC"),
         {256, 192},
         RedAt::Left,
         FactsLines("2024-05-01 10:20:30", "TestCam X1")},
        // Named as a JPEG: its bytes decide.
        {"really-heic.jpg",
         "heif-enc",
         [=](const TempDir& w) { return MadeBy(w, png, "in.png", "heif-enc -q 70 {in} -o {out}", "out.heic"); },
         Q("400 × 300 HEIC"),
         {256, 192},
         RedAt::Left,
         {}},
        {"plain.avif",
         "heif-enc",
         [=](const TempDir& w) {
             return MadeBy(w, png, "in.png", "heif-enc -A -p chroma=420 -q 70 {in} -o {out}", "out.avif");
         },
         Q("400 × 300 AVIF"),
         {256, 192},
         RedAt::Left,
         {}},
        {"turned.webp",
         "cwebp",
         [=](const TempDir& w) {
             return MadeBy(w, turned, "in.jpg", "cwebp -quiet -metadata exif {in} -o {out}", "out.webp");
         },
         Q("300 × 400 WEBP"),
         {192, 256},
         RedAt::Top,
         FactsLines("2024-05-01 10:20:30", "TestCam X1")},
        {"plain.webp",
         "cwebp",
         [=](const TempDir& w) { return MadeBy(w, png, "in.png", "cwebp -quiet -lossless {in} -o {out}", "out.webp"); },
         Q("400 × 300 WEBP"),
         {256, 192},
         RedAt::Left,
         {}},
        // An animation (its second frame the negative) shows its first frame.
        {"anim.webp",
         "img2webp",
         [=](const TempDir& w) {
             return MadeBy(w, png, "in.png",
                           "sh -c 'convert \"$0\" -negate \"$0.2.png\" && "
                           "img2webp -d 100 \"$0\" \"$0.2.png\" -o \"$1\"' {in} {out}",
                           "out.webp");
         },
         Q("400 × 300 WEBP"),
         {256, 192},
         RedAt::Left,
         {}},
        {"turned.tif",
         "convert",
         [=](const TempDir& w) { return MadeBy(w, turned, "in.jpg", "convert {in} {out}", "out.tif"); },
         Q("300 × 400 TIFF"),
         {192, 256},
         RedAt::Top,
         {}},  // ImageMagick keeps the orientation only
        {"plain.tiff",
         "tiffcp",
         [=](const TempDir& w) {
             const std::string tiff = MadeBy(w, png, "in.png", "convert {in} -compress none {out}", "mid.tif");
             return MadeBy(w, tiff, "mid2.tif", "tiffcp -c lzw {in} {out}", "out.tif");
         },
         Q("400 × 300 TIFF"),
         {256, 192},
         RedAt::Left,
         {}},
        {"turned.jxl",
         "cjxl",
         [=](const TempDir& w) { return MadeBy(w, turned, "in.jpg", "cjxl --quiet {in} {out}", "out.jxl"); },
         Q("300 × 400 JXL"),
         {192, 256},
         RedAt::Top,
         FactsLines("2024-05-01 10:20:30", "TestCam X1")},
        {"plain.jxl",
         "cjxl",
         [=](const TempDir& w) { return MadeBy(w, png, "in.png", "cjxl --quiet -d 1 {in} {out}", "out.jxl"); },
         Q("400 × 300 JXL"),
         {256, 192},
         RedAt::Left,
         {}},
        // Its embedded preview, turned as the RAW file says; the size is the RAW picture's.
        {"IMG_0001.dng",
         "",
         [=](const TempDir&) {
             const std::string preview = testing::JpegWithExif(testing::HalvesImage(320, 240), 0);
             return testing::DngBytes(preview, {320, 240}, {640, 480}, 6);
         },
         Q("480 × 640 RAW"),
         {192, 256},
         RedAt::Top,
         Q(kCameraText).arg(Q("Test Body"))},
        // A Nikon and a Sony file, each laid out as its maker does: the
        // embedded preview, turned as the RAW file says.
        {"DSC_0001.NEF",
         "",
         [=](const TempDir&) {
             return testing::CameraRawBytes({testing::RawLayout::Nef,
                                             "NIKON CORPORATION",
                                             "NIKON D850",
                                             testing::JpegWithExif(testing::HalvesImage(320, 240), 0),
                                             {640, 480},
                                             8});
         },
         Q("480 × 640 RAW"),
         {192, 256},
         RedAt::Bottom,
         Q(kCameraText).arg(Q("NIKON D850"))},
        {"DSC00001.ARW",
         "",
         [=](const TempDir&) {
             return testing::CameraRawBytes({testing::RawLayout::Arw,
                                             "SONY",
                                             "ILCE-7M3",
                                             testing::JpegWithExif(testing::HalvesImage(320, 240), 0),
                                             {640, 480},
                                             1});
         },
         Q("640 × 480 RAW"),
         {256, 192},
         RedAt::Left,
         Q(kCameraText).arg(Q("ILCE-7M3"))},
        {"plain.png", "", [=](const TempDir&) { return png; }, Q("400 × 300 PNG"), {256, 192}, RedAt::Left, {}},
        {"turned.jpg",
         "",
         [=](const TempDir&) { return turned; },
         Q("300 × 400 JPEG"),
         {192, 256},
         RedAt::Top,
         FactsLines("2024-05-01 10:20:30", "TestCam X1")},
    };
}

TEST_F(PreviewDecoderTest, EachTypeShowsUprightAtItsSizeThroughTheHelper)
{
    for (const PictureCase& c : PictureCases()) {
        SCOPED_TRACE(c.name);
        if (*c.tool && !testing::HaveTool(c.tool)) {
            ADD_FAILURE() << c.tool << " is missing: tools/setup-debian.sh installs it";
            continue;
        }
        const std::string bytes = c.make(*work_);
        ASSERT_FALSE(bytes.empty());
        const std::string path = Put(*work_, c.name, bytes);
        const Shown shown = ShowTip(path);
        EXPECT_EQ(shown.line, c.line);
        EXPECT_EQ(shown.picture, c.picture);
        if (!shown.image.isNull())
            ExpectRedAt(shown.image, c.red);
        EXPECT_EQ(shown.facts, c.facts);
    }
}

// A RAW file with a full-size preview (red on the left) and a smaller one
// drawn the other way round (blue on the left), to tell which one shows.
TEST_F(PreviewDecoderTest, ARawFilesSmallerPreviewShowsWhereItFillsTheBox)
{
    struct Case {
        QSize smaller;
        QSize box;
        bool smallerShown;
    };
    const Case cases[] = {
        {{400, 300}, {256, 256}, true},
        {{200, 150}, {256, 256}, false},    // too small for the tooltip
        {{400, 300}, {1024, 1024}, false},  // too small for a larger view
        {{400, 200}, {256, 256}, false},    // another picture: other proportions
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.smaller.width()) + " preview, box " + std::to_string(c.box.width()));
        testing::CameraRaw camera{testing::RawLayout::Nef,
                                  "NIKON CORPORATION",
                                  "NIKON D850",
                                  testing::JpegWithExif(testing::HalvesImage(1600, 1200), 0),
                                  {1600, 1200},
                                  1};
        camera.smallerJpeg =
            testing::JpegWithExif(testing::HalvesImage(c.smaller.width(), c.smaller.height()).mirrored(true, false), 0);
        const std::string path = Put(*work_, "DSC_0002.NEF", testing::CameraRawBytes(camera));
        const PicturePreview preview = LoadPicturePreview(path, c.box, nullptr, nullptr, nullptr);
        ASSERT_TRUE(preview.Ok()) << PreviewText(preview).toStdString();
        EXPECT_EQ(PreviewText(preview), Q("1600 × 1200 RAW"));
        EXPECT_EQ(preview.image.size(), QSize(1600, 1200).scaled(c.box, Qt::KeepAspectRatio));
        const QRgb left = preview.image.pixel(preview.image.width() / 8, preview.image.height() / 2);
        EXPECT_EQ(qBlue(left) > 180 && qRed(left) < 90, c.smallerShown);
        EXPECT_EQ(qRed(left) > 180 && qBlue(left) < 90, !c.smallerShown);
    }
}

long long BytesReadSoFar()
{
    std::istringstream io(testing::ReadFile("/proc/self/io"));
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:")
            return value;
    }
    return -1;
}

QImage Noise(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            line[x] = qRgb(x < width / 2 ? 200 : 20, static_cast<int>(seed >> 24), 60);
        }
    }
    return image;
}

// A thumbnail as another program would have written it.
void PutForeignThumbnail(const ThumbnailCache& cache, const std::string& path, const QImage& picture, QSize original)
{
    struct stat st { };
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    QImage thumbnail = picture.scaled(original.scaled(256, 256, Qt::KeepAspectRatio));
    thumbnail.setText("Thumb::URI", QString::fromStdString(ThumbnailCache::Uri(path)));
    thumbnail.setText("Thumb::MTime", QString::number(st.st_mtime));
    thumbnail.setText("Thumb::Size", QString::number(st.st_size));
    thumbnail.setText("Thumb::Mimetype", "image/jpeg");
    thumbnail.setText("Thumb::Image::Width", QString::number(original.width()));
    thumbnail.setText("Thumb::Image::Height", QString::number(original.height()));
    thumbnail.setText("Software", "GNOME::ThumbnailFactory");
    const std::string large = cache.Root() + "/large/" + ThumbnailCache::FileName(path);
    ASSERT_TRUE(thumbnail.save(QString::fromStdString(large), "png"));
}

TEST_F(PreviewDecoderTest, AValidThumbnailMeansNoReadOfThePicture)
{
    const QImage noise = Noise(2400, 1800);
    const std::string path =
        Put(*work_, "IMG_0003.JPG", testing::JpegWithExif(noise, 0, "2023:12:24 18:00:05", "Phone 9"));
    const long long fileBytes = static_cast<long long>(testing::ReadFile(path).size());
    ASSERT_GT(fileBytes, 2'000'000);
    const ThumbnailCache cache;
    const PicturePreview first = LoadPicturePreview(path, {256, 256}, nullptr, nullptr, &cache);
    ASSERT_TRUE(first.Ok());
    EXPECT_FALSE(first.fromThumbnail);
    KeepThumbnail(path, first, {256, 256}, cache);

    const long long before = BytesReadSoFar();
    const PicturePreview again = LoadPicturePreview(path, {256, 256}, nullptr, nullptr, &cache);
    const long long read = BytesReadSoFar() - before;
    EXPECT_TRUE(again.fromThumbnail);
    EXPECT_EQ(PreviewText(again), Q("2400 × 1800 JPEG"));
    EXPECT_EQ(again.image.size(), QSize(256, 192));
    EXPECT_EQ(FactsText(again), FactsLines("2023-12-24 18:00:05", "Phone 9"));
    // The thumbnail and the /proc file that counts: nothing of the picture.
    EXPECT_LT(read, 300'000) << "of a file of " << fileBytes << " bytes";
    std::printf("read with a valid thumbnail: %lld bytes (its PNG), of a picture of %lld bytes\n", read, fileBytes);

    // One made by another program says nothing of the capture: that much
    // (the EXIF at the front) is read from the file.
    PutForeignThumbnail(cache, path, noise, {2400, 1800});
    const long long start = BytesReadSoFar();
    const PicturePreview foreign = LoadPicturePreview(path, {256, 256}, nullptr, nullptr, &cache);
    EXPECT_LT(BytesReadSoFar() - start, fileBytes / 2);
    EXPECT_TRUE(foreign.fromThumbnail);
    EXPECT_EQ(FactsText(foreign), FactsLines("2023-12-24 18:00:05", "Phone 9"));

    // The side-by-side window's line under the picture has them too; the tooltip's does not.
    QLabel picture;
    QLabel text;
    ShowPreviewIn(&picture, &text, &again, true);
    EXPECT_EQ(text.text(), Q("2400 × 1800 JPEG\n") + FactsLines("2023-12-24 18:00:05", "Phone 9"));
    ShowPreviewIn(&picture, &text, &again);
    EXPECT_EQ(text.text(), Q("2400 × 1800 JPEG"));
}

// A failure entry as the given helper would have left it: `formats` empty
// for one that recorded none.
void PutFailure(const ThumbnailCache& cache, const std::string& path, PreviewFailure failure, const QString& formats)
{
    struct stat st { };
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    QImage dot(1, 1, QImage::Format_ARGB32);
    dot.fill(Qt::transparent);
    dot.setText("Thumb::URI", QString::fromStdString(ThumbnailCache::Uri(path)));
    dot.setText("Thumb::MTime", QString::number(st.st_mtime));
    dot.setText("Thumb::Size", QString::number(st.st_size));
    dot.setText("X-Snapsift::Failure", QString::number(static_cast<int>(failure)));
    if (!formats.isEmpty())
        dot.setText("X-Snapsift::Formats", formats);
    dot.setText("Software", "Snapsift 1.0");
    const std::string folder = cache.Root() + "/fail/snapsift-1.0";
    ASSERT_TRUE(testing::RunTool("mkdir -p " + Shell(folder)));
    ASSERT_TRUE(dot.save(QString::fromStdString(folder + "/" + ThumbnailCache::FileName(path)), "png"));
}

TEST_F(PreviewDecoderTest, AFailureRecordedByAnOlderHelperIsTriedAgain)
{
    const std::string png = testing::PngBytes(testing::HalvesImage(400, 300));
    const std::string heic =
        Put(*work_, "IMG_0004.HEIC", MadeBy(*work_, png, "in.png", "heif-enc {in} -o {out}", "o.heic"));
    const ThumbnailCache cache;
    struct Case {
        QString formats;  // what the helper that failed could decode
        bool honoured;
    };
    const QString ours = QString::fromLatin1(DecodableFormats());
    for (const Case& c :
         {Case{"", false}, Case{"BMP,GIF,JPEG,PNG", false}, Case{ours, true}, Case{ours + ",ZZZ", true}}) {
        SCOPED_TRACE(c.formats.toStdString());
        PutFailure(cache, heic, PreviewFailure::NotPicture, c.formats);
        struct stat st { };
        ASSERT_EQ(stat(heic.c_str(), &st), 0);
        const FileVersion version{IdentityOf(st), static_cast<std::uint64_t>(st.st_size),
                                  Nanoseconds(TimeOf(st.st_mtim))};
        EXPECT_EQ(cache.FindFailure(heic, version), c.honoured ? PreviewFailure::NotPicture : PreviewFailure::None);
        EXPECT_EQ(ShowTip(heic).line, c.honoured ? Failed(kNotPictureReasonText) : Q("400 × 300 HEIC"));
    }
    // What this helper records names its own formats.
    const std::string junk = Put(*work_, "junk.heic", "not a picture at all");
    EXPECT_EQ(ShowTip(junk).line, Failed(kNotPictureReasonText));
    const QImage entry(QString::fromStdString(cache.Root() + "/fail/snapsift-1.0/" + ThumbnailCache::FileName(junk)));
    EXPECT_EQ(entry.text("X-Snapsift::Formats"), ours);
    EXPECT_TRUE(ours.contains("HEIC") && ours.contains("RAW") && ours.contains("JPEG"));
}

TEST_F(PreviewDecoderTest, APathLongerThanTheKernelTakesIsOpenedPieceByPiece)
{
    const std::string webp = MadeBy(*work_, testing::PngBytes(testing::HalvesImage(400, 300)), "in.png",
                                    "cwebp -quiet {in} -o {out}", "o.webp");
    ASSERT_FALSE(webp.empty());
    std::string path = work_->Path();
    int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::string part(200, 'd');
    while (path.size() < PATH_MAX + 200) {
        ASSERT_EQ(::mkdirat(folder, part.c_str(), 0700), 0);
        const int next = ::openat(folder, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        folder = next;
        ASSERT_GE(folder, 0);
        path += "/" + part;
    }
    const int file = ::openat(folder, "deep.webp", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ::close(folder);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::write(file, webp.data(), webp.size()), static_cast<ssize_t>(webp.size()));
    ::close(file);
    const Shown shown = ShowTip(path + "/deep.webp");
    EXPECT_EQ(shown.line, Q("400 × 300 WEBP"));
    EXPECT_EQ(shown.picture, QSize(256, 192));
}

}  // namespace
}  // namespace snapsift

int main(int argc, char** argv)
{
    if (snapsift::IsPreviewHelperCall(argc, argv))
        return snapsift::RunPreviewHelper();
    const snapsift::testing::TempDir root;
    snapsift::g_previewRoot = root.Path();
    snapsift::testing::SetEnv("HOME", root.MakeFolder("home"));
    snapsift::testing::SetEnv("XDG_CACHE_HOME", root.MakeFolder("cache"));
    QApplication application(argc, argv);
    snapsift::PreviewLoader::SetDefaultTimeLimit(600000);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
