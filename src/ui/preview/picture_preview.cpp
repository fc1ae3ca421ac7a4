#include "ui/preview/picture_preview.h"

#include "ui/window_texts.h"

#include <QFile>
#include <QImageReader>
#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift {

namespace {

// Pictures whose header claims more pixels than this are not decoded even
// where the decoder could scale them down while reading.
constexpr qint64 kMaxPreviewPixels = 400'000'000;

QString Reason(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

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

PicturePreview Failed(const char* reason, const FileVersion& version = {})
{
    PicturePreview preview;
    preview.failure = Reason(reason);
    preview.version = version;
    return preview;
}

const char* OpenFailure(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return kNoFileReasonText;
    case ELOOP:
        return kLinkReasonText;
    case EACCES:
    case EPERM:
        return kNotReadableReasonText;
    default:
        return kCannotOpenReasonText;
    }
}

// Opens `path` and reports what it is. `*unchanged` becomes true, and nothing
// is decoded, when the file is the version `known`.
PicturePreview Load(const std::string& path, QSize box, const FileVersion* known, bool* unchanged)
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
        return Failed(kCannotOpenReasonText);
    const FileVersion version{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                              static_cast<std::uint64_t>(st.st_size),
                              static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
    if (known && *known == version) {
        *unchanged = true;
        return {};
    }
    if (!S_ISREG(st.st_mode))
        return Failed(kNotRegularReasonText, version);
    if (st.st_size == 0)
        return Failed(kEmptyReasonText, version);
    // Regular file reads do not honour O_NONBLOCK; clear it anyway so the
    // decoder never sees EAGAIN.
    ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);

    QFile device;
    if (!device.open(fd.Get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return Failed(kCannotOpenReasonText, version);
    QImageReader reader(&device);
    reader.setAutoTransform(true);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format().toUpper();
    if (format.isEmpty())
        return Failed(kNotPictureReasonText, version);
    const QSize stored = reader.size();
    if (stored.isValid() && static_cast<qint64>(stored.width()) * stored.height() > kMaxPreviewPixels)
        return Failed(kTooLargeReasonText, version);
    if (stored.isValid() && (stored.width() > box.width() || stored.height() > box.height()))
        reader.setScaledSize(stored.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));

    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        const bool tooLarge = stored.isValid() && static_cast<qint64>(stored.width()) * stored.height() * 4 >
                                                      static_cast<qint64>(QImageReader::allocationLimit()) << 20;
        return Failed(tooLarge ? kTooLargeReasonText : kBrokenReasonText, version);
    }
    if ((format == "JPEG" && !JpegIsWhole(fd.Get())) ||
        (format == "BMP" && !BmpIsWhole(fd.Get(), static_cast<std::uint64_t>(st.st_size))))
        return Failed(kBrokenReasonText, version);

    PicturePreview preview;
    preview.image = std::move(image);
    preview.format = format == "JPG" ? QByteArray("JPEG") : format;
    preview.pixelSize = stored.isValid() ? stored : preview.image.size();
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        preview.pixelSize.transpose();
    preview.version = version;
    return preview;
}

QByteArray CacheKey(const QByteArray& path, const FileVersion& version)
{
    QByteArray key = path;
    key.append('\0');
    key.append(reinterpret_cast<const char*>(&version), sizeof version);
    return key;
}

} // namespace

QString PreviewText(const PicturePreview& preview)
{
    if (!preview.Ok())
        return QString::fromUtf8(kPreviewFailedFormatText).arg(QString::fromUtf8(kPreviewFailedText), preview.failure);
    return QStringLiteral("%1 × %2 %3")
        .arg(preview.pixelSize.width())
        .arg(preview.pixelSize.height())
        .arg(QString::fromLatin1(preview.format));
}

void LimitImageAllocation()
{
    QImageReader::setAllocationLimit(kImageAllocationLimitMiB);
}

PicturePreview LoadPicturePreview(const std::string& path, QSize box)
{
    bool unchanged = false;
    return Load(path, box, nullptr, &unchanged);
}

PreviewLoader::PreviewLoader(QObject* parent) : QObject(parent)
{
    LimitImageAllocation();
    pool_.setMaxThreadCount(2);
    cache_.setMaxCost(kPreviewCacheBytes);
}

PreviewLoader::~PreviewLoader()
{
    pool_.clear();
    pool_.waitForDone();
}

const PicturePreview* PreviewLoader::Find(const std::string& path) const
{
    const auto key = latestKey_.constFind(QByteArray::fromStdString(path));
    return key == latestKey_.cend() ? nullptr : cache_.object(*key);
}

void PreviewLoader::Request(const std::string& path)
{
    const QByteArray pathBytes = QByteArray::fromStdString(path);
    if (pending_.contains(pathBytes))
        return;
    pending_.insert(pathBytes);
    const PicturePreview* cached = Find(path);
    const bool haveKnown = cached != nullptr;
    const FileVersion known = cached ? cached->version : FileVersion{};
    pool_.start(
        [this, path, pathBytes, haveKnown, known, hook = workerHook_] {
            if (hook)
                hook();
            bool unchanged = false;
            PicturePreview preview = Load(path, {kPreviewSide, kPreviewSide}, haveKnown ? &known : nullptr, &unchanged);
            QMetaObject::invokeMethod(
                this, [this, pathBytes, preview = std::move(preview), unchanged] { Deliver(pathBytes, preview, unchanged); },
                Qt::QueuedConnection);
        },
        ++nextPriority_);
}

void PreviewLoader::Deliver(const QByteArray& path, const PicturePreview& preview, bool unchanged)
{
    pending_.remove(path);
    if (unchanged && !Find(path.toStdString())) {
        // The cache let the preview go while the file was checked.
        latestKey_.remove(path);
        Request(path.toStdString());
        return;
    }
    if (!unchanged) {
        const QByteArray key = CacheKey(path, preview.version);
        const qsizetype cost = std::max<qsizetype>(1, preview.image.sizeInBytes());
        cache_.insert(key, new PicturePreview(preview), cost);
        latestKey_.insert(path, key);
    }
    emit Ready(path);
}

} // namespace snapsift
