// SPDX-License-Identifier: MIT
#include "support/picture_samples.h"

#include <QBuffer>
#include <QImageWriter>

#include <cstdlib>
#include <cstring>
#include <libheif/heif.h>
#include <vector>

namespace snapsift::testing {

namespace {

// A little-endian TIFF structure built entry by entry: each IFD's values
// that do not fit in four bytes go after it.
class TiffWriter final {
public:
    struct Entry {
        std::uint16_t tag;
        std::uint16_t type;  // 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG
        std::uint32_t count;
        std::string value;  // the value's bytes
    };

    static Entry Short(std::uint16_t tag, std::uint16_t v) { return {tag, 3, 1, Le(v, 2)}; }
    static Entry Long(std::uint16_t tag, std::uint32_t v) { return {tag, 4, 1, Le(v, 4)}; }
    static Entry Ascii(std::uint16_t tag, const std::string& s)
    {
        return {tag, 2, static_cast<std::uint32_t>(s.size() + 1), s + '\0'};
    }
    static std::string Le(std::uint32_t v, int bytes)
    {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
        return out;
    }

    // Appends an IFD at the end of `out` (offsets are from the start of `out`)
    // and returns where it starts; `next` is the following IFD's offset.
    static std::uint32_t PutIfd(std::string& out, const std::vector<Entry>& entries, std::uint32_t next = 0)
    {
        const auto start = static_cast<std::uint32_t>(out.size());
        std::uint32_t extra = start + 2 + 12 * static_cast<std::uint32_t>(entries.size()) + 4;
        std::string table = Le(static_cast<std::uint32_t>(entries.size()), 2);
        std::string values;
        for (const Entry& e : entries) {
            table += Le(e.tag, 2) + Le(e.type, 2) + Le(e.count, 4);
            if (e.value.size() <= 4) {
                table += e.value + std::string(4 - e.value.size(), '\0');
            } else {
                table += Le(extra + static_cast<std::uint32_t>(values.size()), 4);
                values += e.value;
                if (values.size() % 2)
                    values += '\0';
            }
        }
        table += Le(next, 4);
        out += table + values;
        (void)extra;
        return start;
    }
};

}  // namespace

QImage HalvesImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(qRgb(0, 0, 255));
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(line, line + width / 2, qRgb(255, 0, 0));
    }
    return image;
}

static std::string Encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(92);
    writer.write(image);
    return bytes.toStdString();
}

std::string PngBytes(const QImage& image)
{
    return Encoded(image, "png");
}

std::string JpegWithExif(const QImage& image, int orientation, const std::string& captureTime, const std::string& model)
{
    std::string jpeg = Encoded(image, "jpeg");
    if (orientation == 0 && captureTime.empty() && model.empty())
        return jpeg;
    using W = TiffWriter;
    std::string tiff = "II*" + std::string(1, '\0') + W::Le(8, 4);
    std::vector<W::Entry> ifd0;
    if (!model.empty())
        ifd0.push_back(W::Ascii(0x0110, model));
    if (orientation)
        ifd0.push_back(W::Short(0x0112, static_cast<std::uint16_t>(orientation)));
    if (!captureTime.empty()) {
        // The Exif IFD follows IFD0 and its values.
        std::string probe = tiff;
        ifd0.push_back(W::Long(0x8769, 0));
        W::PutIfd(probe, ifd0);
        ifd0.back() = W::Long(0x8769, static_cast<std::uint32_t>(probe.size()));
        W::PutIfd(tiff, ifd0);
        W::PutIfd(tiff, {W::Ascii(0x9003, captureTime)});
    } else {
        W::PutIfd(tiff, ifd0);
    }
    const std::string exif = std::string("Exif\0\0", 6) + tiff;
    const std::size_t length = exif.size() + 2;
    jpeg.insert(2, "\xff\xe1" + std::string{char(length >> 8), char(length & 0xff)} + exif);
    return jpeg;
}

bool RunTool(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool HaveTool(const char* program)
{
    return RunTool(std::string("command -v ") + program);
}

static heif_error WriteBytes(heif_context*, const void* data, size_t size, void* out)
{
    static_cast<std::string*>(out)->append(static_cast<const char*>(data), size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

std::string HeicWithOrientation(const QImage& source, int orientation)
{
    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* image = nullptr;
    std::string out;
    if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code == heif_error_Ok &&
        heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image).code ==
            heif_error_Ok &&
        heif_image_add_plane(image, heif_channel_interleaved, rgb.width(), rgb.height(), 8).code == heif_error_Ok) {
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < rgb.height(); ++y)
            std::memcpy(plane + y * stride, rgb.constScanLine(y), static_cast<size_t>(rgb.width()) * 3);
        heif_encoder_set_lossy_quality(encoder, 80);
        heif_encoding_options* options = heif_encoding_options_alloc();
        options->image_orientation = static_cast<heif_orientation>(orientation);
        heif_writer writer{1, WriteBytes};
        if (heif_context_encode_image(context, image, encoder, options, nullptr).code == heif_error_Ok)
            heif_context_write(context, &writer, &out);
        heif_encoding_options_free(options);
    }
    if (image)
        heif_image_release(image);
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(context);
    return out;
}

std::string DngBytes(const std::string& previewJpeg, QSize preview, QSize raw, int orientation)
{
    using W = TiffWriter;
    // Header, then the pixel data, then the IFDs.
    std::string file = "II*" + std::string(1, '\0') + W::Le(0, 4);
    const auto jpegAt = static_cast<std::uint32_t>(file.size());
    file += previewJpeg;
    if (file.size() % 2)
        file += '\0';
    const auto rawAt = static_cast<std::uint32_t>(file.size());
    const std::uint32_t rawBytes = static_cast<std::uint32_t>(raw.width() * raw.height() * 2);
    std::string cfa(rawBytes, '\0');
    for (std::uint32_t i = 1; i < rawBytes; i += 2)
        cfa[i] = static_cast<char>(i % 7);  // some signal, 16-bit samples
    file += cfa;
    const std::vector<W::Entry> rawIfd = {W::Long(254, 0),
                                          W::Long(256, raw.width()),
                                          W::Long(257, raw.height()),
                                          W::Short(258, 16),
                                          W::Short(259, 1),
                                          W::Short(262, 32803),
                                          W::Long(273, rawAt),
                                          W::Short(277, 1),
                                          W::Long(278, raw.height()),
                                          W::Long(279, rawBytes),
                                          {33421, 3, 2, W::Le(2, 2) + W::Le(2, 2)},
                                          {33422, 1, 4, std::string("\0\1\1\2", 4)},
                                          W::Short(50717, 65535)};
    const std::uint32_t subAt = W::PutIfd(file, rawIfd);
    const std::vector<W::Entry> ifd0 = {W::Long(254, 1),
                                        W::Long(256, preview.width()),
                                        W::Long(257, preview.height()),
                                        {258, 3, 3, W::Le(8, 2) + W::Le(8, 2) + W::Le(8, 2)},
                                        W::Short(259, 7),
                                        W::Short(262, 6),
                                        W::Ascii(271, "Snapsift"),
                                        W::Ascii(272, "Test Body"),
                                        W::Long(273, jpegAt),
                                        W::Short(274, static_cast<std::uint16_t>(orientation)),
                                        W::Short(277, 3),
                                        W::Long(278, preview.height()),
                                        W::Long(279, static_cast<std::uint32_t>(previewJpeg.size())),
                                        W::Long(330, subAt),
                                        {50706, 1, 4, std::string("\1\4\0\0", 4)},
                                        W::Ascii(50708, "Snapsift Test Body")};
    const std::uint32_t firstAt = W::PutIfd(file, ifd0);
    file.replace(4, 4, W::Le(firstAt, 4));
    return file;
}

namespace {

// Uncompressed 16-bit CFA samples with some signal, and the IFD that describes them at `at`.
std::string CfaData(QSize raw)
{
    const auto bytes = static_cast<std::uint32_t>(raw.width() * raw.height() * 2);
    std::string cfa(bytes, '\0');
    for (std::uint32_t i = 1; i < bytes; i += 2)
        cfa[i] = static_cast<char>(i % 7);
    return cfa;
}

std::vector<TiffWriter::Entry> CfaIfd(QSize raw, std::uint32_t at)
{
    using W = TiffWriter;
    return {W::Long(254, 0),
            W::Long(256, raw.width()),
            W::Long(257, raw.height()),
            W::Short(258, 16),
            W::Short(259, 1),
            W::Short(262, 32803),
            W::Long(273, at),
            W::Short(277, 1),
            W::Long(278, raw.height()),
            W::Long(279, static_cast<std::uint32_t>(raw.width() * raw.height() * 2)),
            {33421, 3, 2, W::Le(2, 2) + W::Le(2, 2)},
            {33422, 1, 4, std::string("\0\1\1\2", 4)}};
}

void Align(std::string& file)
{
    if (file.size() % 2)
        file += '\0';
}

}  // namespace

std::string CameraRawBytes(const CameraRaw& camera)
{
    using W = TiffWriter;
    std::string file = "II*" + std::string(1, '\0') + W::Le(0, 4);
    const auto jpegAt = static_cast<std::uint32_t>(file.size());
    file += camera.previewJpeg;
    Align(file);
    const auto rawAt = static_cast<std::uint32_t>(file.size());
    file += CfaData(camera.raw);
    const auto jpegBytes = static_cast<std::uint32_t>(camera.previewJpeg.size());
    const auto orientation = static_cast<std::uint16_t>(camera.orientation);
    std::vector<W::Entry> ifd0;
    if (camera.layout == RawLayout::Nef) {
        const auto thumbAt = static_cast<std::uint32_t>(file.size());
        file += std::string(160 * 120 * 3, '\x40');
        const std::uint32_t previewIfd =
            W::PutIfd(file, {W::Long(254, 1), W::Short(259, 6), W::Long(513, jpegAt), W::Long(514, jpegBytes)});
        const std::uint32_t rawIfd = W::PutIfd(file, CfaIfd(camera.raw, rawAt));
        std::string subIfds = W::Le(previewIfd, 4) + W::Le(rawIfd, 4);
        if (!camera.smallerJpeg.empty()) {
            Align(file);
            const auto smallerAt = static_cast<std::uint32_t>(file.size());
            file += camera.smallerJpeg;
            Align(file);
            subIfds += W::Le(W::PutIfd(file, {W::Long(254, 1), W::Short(259, 6), W::Long(513, smallerAt),
                                              W::Long(514, static_cast<std::uint32_t>(camera.smallerJpeg.size()))}),
                             4);
        }
        ifd0 = {W::Long(254, 1),
                W::Long(256, 160),
                W::Long(257, 120),
                {258, 3, 3, W::Le(8, 2) + W::Le(8, 2) + W::Le(8, 2)},
                W::Short(259, 1),
                W::Short(262, 2),
                W::Ascii(271, camera.make),
                W::Ascii(272, camera.model),
                W::Long(273, thumbAt),
                W::Short(274, orientation),
                W::Short(277, 3),
                W::Long(278, 120),
                W::Long(279, 160 * 120 * 3),
                {330, 4, static_cast<std::uint32_t>(subIfds.size() / 4), subIfds}};
    } else {
        const std::uint32_t rawIfd = W::PutIfd(file, CfaIfd(camera.raw, rawAt));
        ifd0 = {W::Long(254, 1),
                W::Short(259, 6),
                W::Ascii(271, camera.make),
                W::Ascii(272, camera.model),
                W::Short(274, orientation),
                W::Long(330, rawIfd),
                W::Long(513, jpegAt),
                W::Long(514, jpegBytes)};
    }
    Align(file);
    const std::uint32_t firstAt = W::PutIfd(file, ifd0);
    file.replace(4, 4, W::Le(firstAt, 4));
    return file;
}

}  // namespace snapsift::testing
