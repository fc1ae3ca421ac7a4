// SPDX-License-Identifier: MIT
#include "ui/preview/thumbnail_cache.h"

#include "platform/file_system.h"
#include "platform/trash_folders.h"
#include "ui/preview/decode/decoders.h"

#include <glib.h>

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift {

namespace {

constexpr const char* kFailFolder = "fail/snapsift-1.0";
constexpr const char* kFailureKey = "X-Snapsift::Failure";
constexpr const char* kFormatsKey = "X-Snapsift::Formats";  // what the helper that failed could decode
constexpr const char* kCaptureTimeKey = "X-Snapsift::DateTimeOriginal";
constexpr const char* kCameraKey = "X-Snapsift::Model";
constexpr const char* kSoftware = "Snapsift 1.0";
constexpr qint64 kMaxThumbnailBytes = qint64{4} * 1024 * 1024;
constexpr int kMaxThumbnailSide = 1024;

struct GFreer {
    void operator()(void* p) const { g_free(p); }
};
using GString_ = std::unique_ptr<char, GFreer>;

std::int64_t MTimeSeconds(const FileVersion& version)
{
    const std::int64_t ns = version.mtimeNs;
    return ns >= 0 ? ns / 1'000'000'000 : -((-ns + 999'999'999) / 1'000'000'000);
}

std::uint32_t Crc32(const QByteArray& bytes)
{
    std::uint32_t crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutBigEndian(QByteArray& out, std::uint32_t value)
{
    out.append(static_cast<char>(value >> 24));
    out.append(static_cast<char>((value >> 16) & 0xff));
    out.append(static_cast<char>((value >> 8) & 0xff));
    out.append(static_cast<char>(value & 0xff));
}

// A PNG with the given keys as uncompressed tEXt chunks right after its
// header: GLib's own check of a thumbnail reads tEXt chunks only, and Qt
// would compress long values.
QByteArray PngWithKeys(const QImage& image, const std::vector<std::pair<QByteArray, QByteArray>>& keys)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image) || png.size() < 33)
        return {};
    QByteArray texts;
    for (const auto& [key, value] : keys) {
        const QByteArray data = "tEXt" + key + '\0' + value;
        PutBigEndian(texts, static_cast<std::uint32_t>(data.size() - 4));
        texts.append(data);
        PutBigEndian(texts, Crc32(data));
    }
    // The signature (8 bytes) and the IHDR chunk (25) come first.
    png.insert(33, texts);
    return png;
}

// Makes the folder (and, for the cache's own, the folders above it, as
// XDG_CACHE_HOME may not exist yet), private to the user.
bool MakeFolder(const std::string& path)
{
    if (::g_mkdir_with_parents(path.c_str(), 0700) == 0 || errno == EEXIST) {
        return IsOwnFolder(path);
    }
    return false;
}

// Writes `bytes` as `folder`/`name` under a temporary name first, so that a
// reader sees the whole file or none. The file has no name at all until it
// is whole, where the file system allows: a helper killed while writing (the
// window ends) leaves nothing behind.
bool WriteAtomically(const std::string& folder, const std::string& name, const QByteArray& bytes)
{
    const std::string target = folder + '/' + name;
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        const std::string temp = folder + "/." + name + '.' + std::to_string(::getpid());
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        const bool linked = WriteAll(fd, bytes.constData(), static_cast<std::size_t>(bytes.size())) &&
                            ::fchmod(fd, 0600) == 0 &&
                            ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0;
        ::close(fd);
        if (linked) {
            if (::rename(temp.c_str(), target.c_str()) == 0)
                return true;
            ::unlink(temp.c_str());
            return false;
        }
    }
    std::string temp = folder + "/." + name + ".XXXXXX";
    fd = ::mkostemp(temp.data(), O_CLOEXEC);  // mode 0600
    if (fd < 0)
        return false;
    const bool written =
        WriteAll(fd, bytes.constData(), static_cast<std::size_t>(bytes.size())) && ::fchmod(fd, 0600) == 0;
    const bool closed = ::close(fd) == 0;
    if (written && closed && ::rename(temp.c_str(), target.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}

// Reads a thumbnail file with the care any file gets: no link, only a
// regular file of modest size, a picture of modest size.
QImage ReadThumbnail(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {};
    QFile file;
    struct stat st { };
    QImage image;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxThumbnailBytes &&
        file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        QImageReader reader(&file, "png");
        const QSize size = reader.size();
        if (size.isValid() && size.width() <= kMaxThumbnailSide && size.height() <= kMaxThumbnailSide)
            reader.read(&image);
    }
    ::close(fd);
    return image;
}

bool Names(const QImage& thumbnail, const std::string& uri, const FileVersion& version)
{
    if (thumbnail.isNull() || thumbnail.text(QStringLiteral("Thumb::URI")).toStdString() != uri)
        return false;
    bool ok = false;
    const qint64 mtime = thumbnail.text(QStringLiteral("Thumb::MTime")).toLongLong(&ok);
    if (!ok || mtime != MTimeSeconds(version))
        return false;
    const QString size = thumbnail.text(QStringLiteral("Thumb::Size"));
    return size.isEmpty() || size.toULongLong() == version.size;
}

// Copies a thumbnail's text into a fixed field, printable ASCII only.
void PutField(const QString& text, char* field, std::size_t size)
{
    const QByteArray bytes = text.toLatin1();
    std::size_t used = 0;
    for (const char c : bytes) {
        if (used + 1 >= size)
            break;
        field[used++] = (c >= 0x20 && c < 0x7F) ? c : '?';
    }
}

// Every format this helper decodes is among those listed in `recorded`.
bool CoversOurFormats(const QString& recorded)
{
    const QStringList theirs = recorded.split(',');
    for (const DecoderEntry& entry : Decoders()) {
        if (!theirs.contains(QString::fromLatin1(entry.format)))
            return false;
    }
    return true;
}

QByteArray MimeTypeOf(const QByteArray& format)
{
    for (const DecoderEntry& entry : Decoders()) {
        if (format == entry.format)
            return entry.mimeType;
    }
    return "image/" + format.toLower();
}

std::string Canonical(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

}  // namespace

ThumbnailCache::ThumbnailCache() : root_(std::string(g_get_user_cache_dir()) + "/thumbnails")
{
    excluded_.push_back(root_);
    const std::string canonical = Canonical(root_);
    if (canonical != root_)
        excluded_.push_back(canonical);
    for (const TrashFolder& trash : ListTrashFolders())
        excluded_.push_back(trash.path);
}

bool ThumbnailCache::Covers(const std::string& path) const
{
    for (const std::string& folder : excluded_) {
        if (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/')
            return false;
    }
    return !FileName(path).empty();
}

std::string ThumbnailCache::Uri(const std::string& path)
{
    const GString_ uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
    return uri ? std::string(uri.get()) : std::string();
}

std::string ThumbnailCache::FileName(const std::string& path)
{
    const std::string uri = Uri(path);
    if (uri.empty())
        return {};
    const GString_ md5(g_compute_checksum_for_string(G_CHECKSUM_MD5, uri.c_str(), -1));
    return std::string(md5.get()) + ".png";
}

KeptThumbnail ThumbnailCache::FindWhole(const std::string& path, const FileVersion& version, QSize box) const
{
    const std::string name = FileName(path);
    if (name.empty())
        return {};
    const std::string uri = Uri(path);
    for (const auto& [folder, side] : {std::pair{"large", kLargeSide}, std::pair{"normal", kNormalSide}}) {
        QImage thumbnail = ReadThumbnail(root_ + '/' + folder + '/' + name);
        if (!Names(thumbnail, uri, version))
            continue;
        const QSize original(thumbnail.text(QStringLiteral("Thumb::Image::Width")).toInt(),
                             thumbnail.text(QStringLiteral("Thumb::Image::Height")).toInt());
        if (original.width() <= 0 || original.height() <= 0)
            continue;
        const bool shrink = original.width() > box.width() || original.height() > box.height();
        const QSize wanted = shrink ? original.scaled(box, Qt::KeepAspectRatio).expandedTo({1, 1}) : original;
        // Large enough to show the picture as well as decoding would, and of
        // its shape (one pixel either way for the rounding).
        if (wanted.width() > side + 1 || wanted.height() > side + 1 ||
            std::abs(thumbnail.width() - wanted.width()) > 1 + thumbnail.width() / 64 ||
            std::abs(thumbnail.height() - wanted.height()) > 1 + thumbnail.height() / 64)
            continue;
        KeptThumbnail kept;
        kept.original = original;
        kept.mimeType = thumbnail.text(QStringLiteral("Thumb::Mimetype")).toLatin1();
        kept.factsKnown = thumbnail.text(QStringLiteral("Software")) == QString::fromLatin1(kSoftware);
        PutField(thumbnail.text(QString::fromLatin1(kCaptureTimeKey)), kept.facts.captureTime,
                 sizeof kept.facts.captureTime);
        PutField(thumbnail.text(QString::fromLatin1(kCameraKey)), kept.facts.camera, sizeof kept.facts.camera);
        kept.image = thumbnail.size() == wanted
                         ? thumbnail
                         : thumbnail.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return kept;
    }
    return {};
}

PreviewFailure ThumbnailCache::FindFailure(const std::string& path, const FileVersion& version) const
{
    const std::string name = FileName(path);
    if (name.empty())
        return PreviewFailure::None;
    const QImage entry = ReadThumbnail(root_ + '/' + kFailFolder + '/' + name);
    if (!Names(entry, Uri(path), version) || !CoversOurFormats(entry.text(QString::fromLatin1(kFormatsKey))))
        return PreviewFailure::None;
    const int code = entry.text(QString::fromLatin1(kFailureKey)).toInt();
    for (const PreviewFailure kept : {PreviewFailure::NotPicture, PreviewFailure::TooLarge, PreviewFailure::Broken}) {
        if (code == static_cast<int>(kept))
            return kept;
    }
    return PreviewFailure::Broken;
}

bool ThumbnailCache::Store(const std::string& path, const FileVersion& version, const QImage& thumbnail, QSize original,
                           const QByteArray& format, const PictureFacts* facts) const
{
    const std::string name = FileName(path);
    if (name.empty() || !MakeFolder(root_) || !MakeFolder(root_ + "/large"))
        return false;
    std::vector<std::pair<QByteArray, QByteArray>> keys = {
        {"Thumb::URI", QByteArray::fromStdString(Uri(path))},
        {"Thumb::MTime", QByteArray::number(static_cast<qint64>(MTimeSeconds(version)))},
        {"Thumb::Size", QByteArray::number(static_cast<qulonglong>(version.size))},
        {"Thumb::Mimetype", MimeTypeOf(format)},
        {"Thumb::Image::Width", QByteArray::number(original.width())},
        {"Thumb::Image::Height", QByteArray::number(original.height())},
        {"Software", kSoftware}};
    if (facts && facts->captureTime[0])
        keys.emplace_back(kCaptureTimeKey,
                          QByteArray(facts->captureTime,
                                     static_cast<qsizetype>(strnlen(facts->captureTime, sizeof facts->captureTime))));
    if (facts && facts->camera[0])
        keys.emplace_back(kCameraKey, QByteArray(facts->camera,
                                                 static_cast<qsizetype>(strnlen(facts->camera, sizeof facts->camera))));
    const QByteArray png = PngWithKeys(thumbnail, keys);
    return !png.isEmpty() && WriteAtomically(root_ + "/large", name, png);
}

bool ThumbnailCache::StoreFailure(const std::string& path, const FileVersion& version, PreviewFailure failure) const
{
    const std::string name = FileName(path);
    if (name.empty() || !MakeFolder(root_) || !MakeFolder(root_ + "/fail") || !MakeFolder(root_ + '/' + kFailFolder))
        return false;
    QImage dot(1, 1, QImage::Format_ARGB32);
    dot.fill(Qt::transparent);
    const QByteArray png =
        PngWithKeys(dot, {{"Thumb::URI", QByteArray::fromStdString(Uri(path))},
                          {"Thumb::MTime", QByteArray::number(static_cast<qint64>(MTimeSeconds(version)))},
                          {"Thumb::Size", QByteArray::number(static_cast<qulonglong>(version.size))},
                          {kFailureKey, QByteArray::number(static_cast<int>(failure))},
                          {kFormatsKey, DecodableFormats()},
                          {"Software", kSoftware}});
    return !png.isEmpty() && WriteAtomically(root_ + '/' + kFailFolder, name, png);
}

}  // namespace snapsift
