// SPDX-License-Identifier: MIT
#include "ui/preview/decode/picture_decode.h"

#include "platform/file_system.h"
#include "ui/preview/decode/decoders.h"
#include "ui/preview/decode/file_reading.h"
#include "ui/preview/thumbnail_cache.h"
#include "ui/window_texts.h"

#include <QImageReader>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift {

namespace {

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

// Opens the file at `path` for reading without following a link in its last
// part and without waiting on a FIFO or a device; a path longer than the
// kernel takes in one call is opened from its folder, as the walk does.
int OpenPicture(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO or a device neither waits for a writer nor
    // wakes the hardware; only a regular file is read after fstat.
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    if (path.size() < PATH_MAX)
        return ::open(path.c_str(), kFlags);
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const FolderHandle folder = OpenFolder(slash == 0 ? std::string("/") : path.substr(0, slash));
    if (!folder.IsOpen())
        return -1;
    return ::openat(folder.Fd(), path.c_str() + slash + 1, kFlags);
}

// The types whose EXIF exiv2 reads from the file itself.
bool HasFileExif(PictureType type)
{
    return type == PictureType::Jpeg || type == PictureType::Png || type == PictureType::Tiff ||
           type == PictureType::WebP || type == PictureType::Raw;
}

PicturePreview FromThumbnail(KeptThumbnail kept, int fd, const FileVersion& version)
{
    PicturePreview preview;
    preview.image = std::move(kept.image);
    preview.pixelSize = kept.original;
    const DecoderEntry* entry = FindDecoderByMimeType(kept.mimeType);
    preview.format = entry->format;
    // A thumbnail that another program made says nothing of the picture's
    // facts: those come from the file's EXIF, never its pixels.
    preview.facts = kept.factsKnown || !HasFileExif(entry->type) ? kept.facts : ReadFileFacts(fd);
    preview.version = version;
    preview.fromThumbnail = true;
    return preview;
}

// Decodes the open file as the type its first bytes say, when that is one
// of the decoders' types; a preview without a version.
PicturePreview Decode(int fd, std::uint64_t size, QSize box)
{
    unsigned char head[kSniffBytes] = {};
    const std::size_t headBytes = std::min<std::size_t>(sizeof head, static_cast<std::size_t>(size));
    if (!ReadAt(fd, head, headBytes, 0))
        return Failed(PreviewFailure::CannotOpen);
    const PictureType sniffed = SniffPictureType(head, headBytes);
    const DecoderEntry* entry = FindDecoder(sniffed);
    if (!entry)
        return Failed(PreviewFailure::NotPicture);
    Decoded decoded = entry->decode({fd, size, box, sniffed});
    if (decoded.failure != PreviewFailure::None || decoded.image.isNull())
        return Failed(decoded.failure == PreviewFailure::None ? PreviewFailure::Broken : decoded.failure);
    const PictureType type = decoded.type != PictureType::Unknown ? decoded.type : sniffed;

    PicturePreview preview;
    preview.image = std::move(decoded.image);
    preview.format = FindDecoder(type) ? FindDecoder(type)->format : entry->format;
    preview.pixelSize = decoded.pixelSize.isValid() ? decoded.pixelSize : preview.image.size();
    preview.facts = decoded.haveFacts || !HasFileExif(type) ? decoded.facts : ReadFileFacts(fd);
    return preview;
}

// Opens `path` and reports what it is. `*unchanged` becomes true, and nothing
// is decoded, when the file is the version `known`.
PicturePreview Load(const std::string& path, QSize box, const FileVersion* known, bool* unchanged,
                    const ThumbnailCache* thumbnails)
{
    *unchanged = false;
    const FileDescriptor fd(OpenPicture(path));
    if (fd.Fd() < 0) {
        const int error = errno;
        *unchanged = known && *known == FileVersion{};
        return Failed(OpenFailure(error));
    }
    struct stat st { };
    if (::fstat(fd.Fd(), &st) != 0)
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
    ::fcntl(fd.Fd(), F_SETFL, ::fcntl(fd.Fd(), F_GETFL) & ~O_NONBLOCK);
    // A valid thumbnail names the file's version by its facts alone: the
    // picture is not read at all.
    if (cached) {
        KeptThumbnail kept = thumbnails->FindWhole(path, version, box);
        if (!kept.image.isNull() && FindDecoderByMimeType(kept.mimeType))
            return FromThumbnail(std::move(kept), fd.Fd(), version);
    }

    PicturePreview preview = Decode(fd.Fd(), static_cast<std::uint64_t>(st.st_size), box);
    preview.version = version;
    if (!preview.Ok() && preview.failure != PreviewFailure::CannotOpen)
        return fail(preview.failure);
    return preview;
}

}  // namespace

PicturePreview Failed(PreviewFailure failure, const FileVersion& version)
{
    PicturePreview preview;
    preview.failure = failure;
    preview.version = version;
    return preview;
}

FileVersion VersionOf(const struct stat& st)
{
    return {IdentityOf(st), static_cast<std::uint64_t>(st.st_size), Nanoseconds(TimeOf(st.st_mtim))};
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
    case PreviewFailure::HelpersStuck:
        return kHelpersStuckReasonText;
    }
    return kBrokenReasonText;
}

QString PreviewText(const PicturePreview& preview)
{
    if (!preview.Ok())
        return QString::fromUtf8(kPreviewFailedFormatText)
            .arg(QString::fromUtf8(kPreviewFailedText), QString::fromUtf8(FailureText(preview.failure)));
    return QStringLiteral("%1 × %2 %3")
        .arg(preview.pixelSize.width())
        .arg(preview.pixelSize.height())
        .arg(QString::fromLatin1(preview.format));
}

QString FactsText(const PicturePreview& preview)
{
    QStringList lines;
    const auto text = [](const char* field, std::size_t size) {
        return QString::fromLatin1(field, static_cast<qsizetype>(strnlen(field, size)));
    };
    const QString time = text(preview.facts.captureTime, sizeof preview.facts.captureTime);
    const QString camera = text(preview.facts.camera, sizeof preview.facts.camera);
    if (!time.isEmpty())
        lines.append(QString::fromUtf8(kCaptureTimeText).arg(time));
    if (!camera.isEmpty())
        lines.append(QString::fromUtf8(kCameraText).arg(camera));
    return lines.join('\n');
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
    const FileDescriptor fd(OpenPicture(path));
    struct stat st { };
    if (fd.Fd() >= 0 && ::fstat(fd.Fd(), &st) == 0 && S_ISREG(st.st_mode) && VersionOf(st) == preview.version)
        cache.Store(path, preview.version, preview.image, preview.pixelSize, preview.format, &preview.facts);
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

}  // namespace snapsift
