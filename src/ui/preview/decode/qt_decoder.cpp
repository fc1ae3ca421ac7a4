// SPDX-License-Identifier: MIT
// JPEG, PNG, BMP and GIF through Qt's own readers, each asked for by name:
// Qt never guesses a format here, so no other reader (an SVG one, which
// would load the files a picture refers to) ever sees the bytes.
#include "ui/preview/decode/decoders.h"
#include "ui/preview/decode/header_checks.h"

#include <QFile>
#include <QImageReader>

namespace snapsift {

namespace {

// Nor progressive JPEGs whose coefficients would take more than half of what
// a decoding helper may use (kPreviewHelperMemoryBytes).
constexpr std::uint64_t kMaxJpegCoefficientBytes = 512ULL * 1024 * 1024;

Decoded DecodeQtFile(int fd, std::uint64_t size, QSize box, PictureType type, bool applyOrientation)
{
    const char* format = type == PictureType::Jpeg  ? "jpeg"
                         : type == PictureType::Png ? "png"
                         : type == PictureType::Bmp ? "bmp"
                                                    : "gif";
    QFile device;
    if (!device.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return Decoded::Failure(PreviewFailure::CannotOpen);
    QImageReader reader(&device, format);
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(applyOrientation);
    if (!reader.canRead())
        return Decoded::Failure(PreviewFailure::Broken);
    const QSize stored = reader.size();
    if (stored.isValid() && static_cast<qint64>(stored.width()) * stored.height() > kMaxPreviewPixels)
        return Decoded::Failure(PreviewFailure::TooLarge);
    if (type == PictureType::Jpeg && JpegCoefficientBytes(fd) > kMaxJpegCoefficientBytes)
        return Decoded::Failure(PreviewFailure::TooLarge);
    const bool turned = (reader.transformation() & QImageIOHandler::TransformationRotate90) != 0;
    const QSize shown = turned ? stored.transposed() : stored;
    if (stored.isValid() && (stored.width() > box.width() || stored.height() > box.height()))
        reader.setScaledSize(stored.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));

    Decoded decoded;
    if (!reader.read(&decoded.image) || decoded.image.isNull()) {
        const bool tooLarge = stored.isValid() && static_cast<qint64>(stored.width()) * stored.height() * 4 >
                                                      static_cast<qint64>(QImageReader::allocationLimit()) << 20;
        return Decoded::Failure(tooLarge ? PreviewFailure::TooLarge : PreviewFailure::Broken);
    }
    if ((type == PictureType::Jpeg && !JpegIsWhole(fd)) || (type == PictureType::Bmp && !BmpIsWhole(fd, size)))
        return Decoded::Failure(PreviewFailure::Broken);
    decoded.pixelSize = stored.isValid() ? shown : decoded.image.size();
    return decoded;
}

}  // namespace

Decoded DecodeWithQt(const DecodeRequest& request)
{
    return DecodeQtFile(request.fd, request.size, request.box, request.type, true);
}

Decoded DecodeJpegFile(int fd, std::uint64_t size, QSize box, bool applyOrientation)
{
    return DecodeQtFile(fd, size, box, PictureType::Jpeg, applyOrientation);
}

}  // namespace snapsift
