// SPDX-License-Identifier: MIT
#include "ui/preview/decode/picture_decode.h"

#include "ui/preview/decode/file_reading.h"
#include "ui/preview/decode/header_checks.h"
#include "ui/preview/thumbnail_cache.h"
#include "ui/window_texts.h"

#include <QFile>
#include <QImageReader>

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift {

namespace {

// Pictures whose header claims more pixels than this are not decoded even
// where the decoder could scale them down while reading.
constexpr qint64 kMaxPreviewPixels = 400'000'000;
// Nor progressive JPEGs whose coefficients would take more than half of what
// a decoding helper may use (kPreviewHelperMemoryBytes).
constexpr std::uint64_t kMaxJpegCoefficientBytes = 512ULL * 1024 * 1024;

PreviewFailure OpenFailure(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return PreviewFailure::NoFile;
    case ELOOP:
        return PreviewFailure::Link;
    case EACCES:
    case EPERM:
        return PreviewFailure::NotReadable;
    default:
        return PreviewFailure::CannotOpen;
    }
}


// Opens `path` and reports what it is. `*unchanged` becomes true, and nothing
// is decoded, when the file is the version `known`.
PicturePreview Load(const std::string& path, QSize box, const FileVersion* known, bool* unchanged,
                    const ThumbnailCache* thumbnails)
{
    *unchanged = false;
    // O_NONBLOCK: opening a FIFO or a device neither waits for a writer nor
    // wakes the hardware; only a regular file is read after fstat.
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.Get() < 0) {
        const int error = errno;
        *unchanged = known && *known == FileVersion{};
        return Failed(OpenFailure(error));
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        return Failed(PreviewFailure::CannotOpen);
    const FileVersion version = VersionOf(st);
    if (known && *known == version) {
        *unchanged = true;
        return {};
    }
    if (!S_ISREG(st.st_mode))
        return Failed(PreviewFailure::NotRegular, version);
    if (st.st_size == 0)
        return Failed(PreviewFailure::Empty, version);
    // Files that failed before are not tried again while they stay the same.
    const bool cached = thumbnails && thumbnails->Covers(path);
    if (cached) {
        const PreviewFailure before = thumbnails->FindFailure(path, version);
        if (before != PreviewFailure::None)
            return Failed(before, version);
    }
    const auto fail = [&](PreviewFailure failure) {
        if (cached)
            thumbnails->StoreFailure(path, version, failure);
        return Failed(failure, version);
    };
    // Regular file reads do not honour O_NONBLOCK; clear it anyway so the
    // decoder never sees EAGAIN.
    ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);

    QFile device;
    if (!device.open(fd.Get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return Failed(PreviewFailure::CannotOpen, version);
    QImageReader reader(&device);
    reader.setAutoTransform(true);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format().toUpper();
    if (format.isEmpty())
        return fail(PreviewFailure::NotPicture);
    const QSize stored = reader.size();
    if (stored.isValid() && static_cast<qint64>(stored.width()) * stored.height() > kMaxPreviewPixels)
        return fail(PreviewFailure::TooLarge);
    if (format == "JPEG" && JpegCoefficientBytes(fd.Get()) > kMaxJpegCoefficientBytes)
        return fail(PreviewFailure::TooLarge);
    const bool turned = (reader.transformation() & QImageIOHandler::TransformationRotate90) != 0;
    const QSize shown = turned ? stored.transposed() : stored;
    const bool shrink = stored.isValid() && (stored.width() > box.width() || stored.height() > box.height());

    QImage image;
    bool fromThumbnail = false;
    if (cached && stored.isValid()) {
        image = thumbnails->Find(path, version, shrink ? shown.scaled(box, Qt::KeepAspectRatio).expandedTo({1, 1}) : shown);
        fromThumbnail = !image.isNull();
    }
    if (!fromThumbnail) {
        if (shrink)
            reader.setScaledSize(stored.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
        if (!reader.read(&image) || image.isNull()) {
            const bool tooLarge = stored.isValid() && static_cast<qint64>(stored.width()) * stored.height() * 4 >
                                                          static_cast<qint64>(QImageReader::allocationLimit()) << 20;
            return fail(tooLarge ? PreviewFailure::TooLarge : PreviewFailure::Broken);
        }
    }
    if ((format == "JPEG" && !JpegIsWhole(fd.Get())) ||
        (format == "BMP" && !BmpIsWhole(fd.Get(), static_cast<std::uint64_t>(st.st_size))))
        return fail(PreviewFailure::Broken);

    PicturePreview preview;
    preview.image = std::move(image);
    preview.format = format == "JPG" ? QByteArray("JPEG") : format;
    preview.pixelSize = stored.isValid() ? shown : preview.image.size();
    preview.version = version;
    preview.fromThumbnail = fromThumbnail;
    return preview;
}

} // namespace

PicturePreview Failed(PreviewFailure failure, const FileVersion& version)
{
    PicturePreview preview;
    preview.failure = failure;
    preview.version = version;
    return preview;
}

FileVersion VersionOf(const struct stat& st)
{
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

static const char* FailureText(PreviewFailure failure)
{
    switch (failure) {
    case PreviewFailure::None:
        break;
    case PreviewFailure::NoFile:
        return kNoFileReasonText;
    case PreviewFailure::Link:
        return kLinkReasonText;
    case PreviewFailure::NotReadable:
        return kNotReadableReasonText;
    case PreviewFailure::CannotOpen:
        return kCannotOpenReasonText;
    case PreviewFailure::NotRegular:
        return kNotRegularReasonText;
    case PreviewFailure::Empty:
        return kEmptyReasonText;
    case PreviewFailure::NotPicture:
        return kNotPictureReasonText;
    case PreviewFailure::TooLarge:
        return kTooLargeReasonText;
    case PreviewFailure::Broken:
        return kBrokenReasonText;
    case PreviewFailure::TookTooLong:
        return kTookTooLongReasonText;
    }
    return kBrokenReasonText;
}

QString PreviewText(const PicturePreview& preview)
{
    if (!preview.Ok())
        return QString::fromUtf8(kPreviewFailedFormatText).arg(QString::fromUtf8(kPreviewFailedText), QString::fromUtf8(FailureText(preview.failure)));
    return QStringLiteral("%1 × %2 %3")
        .arg(preview.pixelSize.width())
        .arg(preview.pixelSize.height())
        .arg(QString::fromLatin1(preview.format));
}

void LimitImageAllocation()
{
    QImageReader::setAllocationLimit(kImageAllocationLimitMiB);
}

void KeepThumbnail(const std::string& path, const PicturePreview& preview, QSize box, const ThumbnailCache& cache)
{
    // Worth keeping for a picture larger than a thumbnail, made from the
    // file as it still is.
    if (!preview.Ok() || preview.fromThumbnail || box != QSize(kPreviewSide, kPreviewSide) ||
        (preview.pixelSize.width() <= ThumbnailCache::kLargeSide &&
         preview.pixelSize.height() <= ThumbnailCache::kLargeSide) ||
        !cache.Covers(path))
        return;
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st {};
    if (fd.Get() >= 0 && ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode) && VersionOf(st) == preview.version)
        cache.Store(path, preview.version, preview.image, preview.pixelSize, preview.format);
}

PicturePreview LoadPicturePreview(const std::string& path, QSize box, const FileVersion* known, bool* unchanged,
                                  const ThumbnailCache* thumbnails)
{
    bool same = false;
    PicturePreview preview = Load(path, box, known, &same, thumbnails);
    if (unchanged)
        *unchanged = same;
    return preview;
}

} // namespace snapsift
