// SPDX-License-Identifier: MIT
#include "ui/preview/picture_preview.h"

#include "ui/preview/preview_helper.h"
#include "ui/preview/thumbnail_cache.h"
#include "ui/window_texts.h"

#include <QFile>
#include <QImageReader>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
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

class FileDescriptor final {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// Reads a file front to back through pread, without moving the descriptor.
class ByteReader final {
public:
    explicit ByteReader(int fd) : fd_(fd) {}
    // The next byte, or -1 at the end of the file or on a read error.
    int Next()
    {
        if (pos_ == len_ && !Fill())
            return -1;
        return buffer_[pos_++];
    }
    // Passes over bytes up to the next 0xFF, which stays unread; false at the end.
    bool SeekFF()
    {
        for (;;) {
            if (pos_ == len_ && !Fill())
                return false;
            const void* hit = std::memchr(buffer_ + pos_, 0xFF, len_ - pos_);
            if (hit) {
                pos_ = static_cast<const unsigned char*>(hit) - buffer_;
                return true;
            }
            pos_ = len_;
        }
    }
    void Skip(std::uint64_t count)
    {
        const std::uint64_t buffered = len_ - pos_;
        if (count <= buffered) {
            pos_ += count;
            return;
        }
        offset_ += count - buffered;
        pos_ = len_ = 0;
    }

private:
    bool Fill()
    {
        ssize_t got;
        do {
            got = ::pread(fd_, buffer_, sizeof buffer_, offset_);
        } while (got < 0 && errno == EINTR);
        if (got <= 0)
            return false;
        offset_ += got;
        pos_ = 0;
        len_ = static_cast<std::size_t>(got);
        return true;
    }

    int fd_;
    off_t offset_ = 0;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    unsigned char buffer_[64 * 1024];
};

// A progressive JPEG is decoded into a buffer of all its coefficients, two
// bytes for each of the 64 in every 8 × 8 block of every component, however
// small the picture is shown and however few bytes the file has: 20000 ×
// 20000 pixels in three full components ask for 2.4 GB. Returns what the
// header asks for; 0 for a sequential JPEG, which needs a row of blocks only.
std::uint64_t JpegCoefficientBytes(int fd)
{
    ByteReader in(fd);
    if (in.Next() != 0xFF || in.Next() != 0xD8)
        return 0;
    for (;;) {
        if (!in.SeekFF())
            return 0;
        in.Next();
        int marker;
        do {
            marker = in.Next();
        } while (marker == 0xFF);
        if (marker < 0 || marker == 0xD9 || marker == 0xDA)
            return 0;  // no frame header before the first scan
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue;
        const int high = in.Next();
        const int low = in.Next();
        const int length = (high << 8) | low;
        if (low < 0 || length < 2)
            return 0;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (!frame) {
            in.Skip(length - 2);
            continue;
        }
        const bool progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
        in.Next();  // precision
        const std::uint64_t height = (static_cast<std::uint64_t>(in.Next()) << 8) | in.Next();
        const std::uint64_t width = (static_cast<std::uint64_t>(in.Next()) << 8) | in.Next();
        const int count = in.Next();
        if (!progressive || count <= 0)
            return 0;
        int h[256], v[256];
        int hMax = 1, vMax = 1;
        for (int c = 0; c < count; ++c) {
            in.Next();  // id
            const int factors = in.Next();
            in.Next();  // quantisation table
            h[c] = std::max(1, (factors >> 4) & 0x0F);
            v[c] = std::max(1, factors & 0x0F);
            hMax = std::max(hMax, h[c]);
            vMax = std::max(vMax, v[c]);
        }
        // Each component's blocks, its rows and columns padded to whole MCUs.
        const std::uint64_t mcuColumns = (width + 8 * hMax - 1) / (8 * hMax);
        const std::uint64_t mcuRows = (height + 8 * vMax - 1) / (8 * vMax);
        std::uint64_t blocks = 0;
        for (int c = 0; c < count; ++c)
            blocks += mcuColumns * h[c] * mcuRows * v[c];
        return blocks * 64 * 2;
    }
}

// A JPEG decoder fills a file that ends early with grey and reports success.
// The file is whole when its markers, walked from the start (segments by
// their lengths, scan data up to the next marker), reach the end-of-image
// marker. What follows that marker does not matter.
bool JpegIsWhole(int fd)
{
    ByteReader in(fd);
    if (in.Next() != 0xFF || in.Next() != 0xD8)
        return false;
    for (;;) {
        if (!in.SeekFF())
            return false;
        in.Next();
        int marker;
        do {
            marker = in.Next();
        } while (marker == 0xFF);
        if (marker < 0)
            return false;
        if (marker == 0xD9)
            return true;
        // Stuffed 0xFF in scan data, restart markers, and markers without a length.
        if (marker == 0x00 || marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        const int high = in.Next();
        const int low = in.Next();
        if (low < 0 || ((high << 8) | low) < 2)
            return false;
        in.Skip(((high << 8) | low) - 2);
    }
}

std::uint32_t LittleEndian(const unsigned char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

// The BMP decoder leaves the rows that a short file lacks empty. An
// uncompressed bitmap is whole when the file holds every row its header
// promises; compressed ones are left to the decoder.
bool BmpIsWhole(int fd, std::uint64_t fileSize)
{
    unsigned char header[34];
    if (::pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
        return false;
    const std::uint32_t dataOffset = LittleEndian(header + 10, 4);
    const std::uint32_t infoSize = LittleEndian(header + 14, 4);
    if (infoSize < 40)
        return true;
    const std::int64_t width = static_cast<std::int32_t>(LittleEndian(header + 18, 4));
    const std::int64_t height = static_cast<std::int32_t>(LittleEndian(header + 22, 4));
    const std::uint32_t bitsPerPixel = LittleEndian(header + 28, 2);
    const std::uint32_t compression = LittleEndian(header + 30, 4);
    if (compression != 0 && compression != 3)
        return true;
    const std::uint64_t stride = ((static_cast<std::uint64_t>(std::abs(width)) * bitsPerPixel + 31) / 32) * 4;
    return dataOffset + stride * static_cast<std::uint64_t>(std::abs(height)) <= fileSize;
}

PicturePreview Failed(PreviewFailure failure, const FileVersion& version = {})
{
    PicturePreview preview;
    preview.failure = failure;
    preview.version = version;
    return preview;
}

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

FileVersion VersionOf(const struct stat& st)
{
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
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
