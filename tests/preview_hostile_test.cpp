// SPDX-License-Identifier: MIT
// Hostile headers of each picture type, and pictures that refer to other
// files: each refused by the helper, within its limits.
#include "preview_checks.h"
#include "support/picture_bombs.h"
#include "support/picture_samples.h"
#include "ui/preview/decode/header_checks.h"
#include "ui/window_texts.h"

#include <QBuffer>
#include <QImageReader>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift {
namespace {

using testing::TempDir;

// Sets every width and height that the file's ispe properties give.
std::string WithIspe(std::string heif, std::uint32_t side)
{
    for (std::size_t at = heif.find("ispe"); at != std::string::npos; at = heif.find("ispe", at + 4)) {
        for (int field = 0; field < 2; ++field) {
            for (int i = 0; i < 4; ++i)
                heif[at + 8 + field * 4 + i] = static_cast<char>((side >> (24 - 8 * i)) & 0xFF);
        }
    }
    return heif;
}

std::string Cut(const std::string& bytes)
{
    return bytes.substr(0, bytes.size() / 2);
}

struct HostileCase {
    const char* name;
    std::function<std::string(const TempDir&)> make;
    const char* reason;
};

TEST_F(PreviewDecoderTest, HostileHeadersAreRefusedWithinTheHelpersLimits)
{
    const std::string png = testing::PngBytes(testing::HalvesImage(400, 300));
    const auto heic = [png](const TempDir& w) {
        return MadeBy(w, png, "in.png", "heif-enc -q 50 {in} -o {out}", "o.heic");
    };
    const auto webp = [png](const TempDir& w) {
        return MadeBy(w, png, "in.png", "cwebp -quiet {in} -o {out}", "o.webp");
    };
    const auto jxl = [png](const TempDir& w) { return MadeBy(w, png, "in.png", "cjxl --quiet {in} {out}", "o.jxl"); };
    const std::string preview = testing::JpegWithExif(testing::HalvesImage(320, 240), 0);
    const std::string blue = Put(*work_, "blue.bmp", [] {
        QImage image(64, 64, QImage::Format_RGB32);
        image.fill(Qt::blue);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "bmp");
        return bytes.toStdString();
    }());
    const std::string fifo = *work_ / "fifo.bmp";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto svg = [](const std::string& target) {
        return "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
               "width=\"64\" height=\"64\"><image xlink:href=\"" +
               target + "\" width=\"64\" height=\"64\"/></svg>\n";
    };
    const char* tooLarge = kTooLargeReasonText;
    const char* broken = kBrokenReasonText;
    const std::vector<HostileCase> cases = {
        {"huge.heic", [&](const TempDir& w) { return WithIspe(heic(w), 60000); }, tooLarge},
        {"cut.heic", [&](const TempDir& w) { return Cut(heic(w)); }, broken},
        {"huge.webp",
         [&](const TempDir& w) {
             std::string bytes = webp(w);  // the VP8 frame header's 14-bit sides
             bytes.replace(26, 4, std::string("\xff\x3f\xff\x3f", 4));
             return bytes;
         },
         broken},
        {"huge.tif",
         [&](const TempDir& w) {
             const std::string tif = Put(w, "huge-in.tif", MadeBy(w, png, "in.png", "convert {in} {out}", "h.tif"));
             EXPECT_TRUE(
                 testing::RunTool("tiffset -s 256 100000 " + Shell(tif) + " && tiffset -s 257 100000 " + Shell(tif)));
             return testing::ReadFile(tif);
         },
         tooLarge},
        {"cut.jxl", [&](const TempDir& w) { return Cut(jxl(w)); }, broken},
        {"dc-only.dng",
         [](const TempDir&) {
             return testing::DngBytes(testing::ProgressiveDcOnlyJpeg(20000), {20000, 20000}, {640, 480}, 1);
         },
         tooLarge},
        {"long-preview.dng",
         [&](const TempDir&) {
             // The preview's length (StripByteCounts of the first IFD, the
             // last one written) reaches far past the end of the file.
             std::string dng = testing::DngBytes(preview, {320, 240}, {64, 48}, 1);
             const std::size_t at = dng.rfind(std::string("\x17\x01\x04\0\x01\0\0\0", 8));
             EXPECT_NE(at, std::string::npos);
             dng.replace(at + 8, 4, std::string("\0\0\0\x7f", 4));
             return dng;
         },
         broken},
        // libraw drops a preview whose header it cannot read; this file has no other.
        {"huge-preview.arw",
         [&](const TempDir&) {
             return testing::CameraRawBytes(
                 {testing::RawLayout::Arw, "SONY", "ILCE-7M3", testing::ProgressiveDcOnlyJpeg(20000), {640, 480}, 1});
         },
         kNotPictureReasonText},
        // An SVG named .jpg that draws another file, or waits on a FIFO: no decoder sees it.
        {"drawing.jpg", [&](const TempDir&) { return svg(blue); }, kNotPictureReasonText},
        {"waiting.jpg", [&](const TempDir&) { return svg(fifo); }, kNotPictureReasonText},
        // Boxes that name HEIC, and nothing after them.
        {"boxes.heic",
         [](const TempDir&) {
             return std::string("\0\0\0\x18"
                                "ftypheic\0\0\0\0mif1heic",
                                24) +
                    std::string(4000, 'x');
         },
         broken},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Put(*work_, c.name, c.make(*work_));
        EXPECT_EQ(ShowTip(path).line, Failed(c.reason));
    }
    // A preview longer than the file (JPEGInterchangeFormatLength): libraw
    // refuses the file as a RAW file, and it shows as the TIFF it also is,
    // its first page the 160 × 120 thumbnail.
    std::string nef =
        testing::CameraRawBytes({testing::RawLayout::Nef, "NIKON CORPORATION", "NIKON D850", preview, {64, 48}, 1});
    const std::size_t length = nef.find(std::string("\x02\x02\x04\0\x01\0\0\0", 8));
    ASSERT_NE(length, std::string::npos);
    nef.replace(length + 8, 4, std::string("\0\0\0\x7f", 4));
    EXPECT_EQ(ShowTip(Put(*work_, "long-preview.nef", nef)).line, Q("160 × 120 TIFF"));

    // Qt alone would have drawn the other file (where its SVG reader is installed).
    QImageReader guess(QString::fromStdString(*work_ / "drawing.jpg"));
    guess.setDecideFormatFromContent(true);
    std::printf("Qt's guess for drawing.jpg: %s\n", guess.format().constData());
    if (guess.format() == "svg")
        EXPECT_EQ(guess.read().pixel(32, 32), qRgb(0, 0, 255));
    else
        std::printf("note: no SVG reader here, so Qt would not have drawn blue.bmp either\n");
}

// An uncompressed bitmap's header, its sides as the file gives them.
std::string BmpHeader(std::int32_t width, std::int32_t height, std::uint16_t bitsPerPixel)
{
    std::string bytes(54, '\0');
    const auto put = [&bytes](std::size_t at, std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i)
            bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(width), 4);
    put(22, static_cast<std::uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, bitsPerPixel, 2);
    return bytes;
}

// Rows a bitmap lacks are found whatever its sides multiply to: sides whose
// rows together pass 64 bits once wrapped round to nothing.
TEST(BmpHeaderCheck, AFileThatLacksRowsIsNeverWhole)
{
    const struct {
        const char* name;
        std::int32_t width, height;
        std::uint16_t bits;
        std::size_t rowBytes;  // what the file holds after the header
        bool whole;
    } cases[] = {
        {"3x2 of 24 bits, every row", 3, 2, 24, 24, true},
        {"3x2 of 24 bits, one row short", 3, 2, 24, 12, false},
        {"bottom-up rows count alike", 3, -2, 24, 12, false},
        {"sides of -2^31, rows of 2^64 bytes", INT32_MIN, INT32_MIN, 32, 0, false},
        {"the widest rows of the most bits", INT32_MAX, INT32_MAX, 65535, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = BmpHeader(c.width, c.height, c.bits) + std::string(c.rowBytes, '\0');
        const int fd = memfd_create("bmp", MFD_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        EXPECT_EQ(BmpIsWhole(fd, bytes.size()), c.whole);
        close(fd);
    }
}

}  // namespace
}  // namespace snapsift
