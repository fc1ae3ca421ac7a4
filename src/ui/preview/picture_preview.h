#pragma once

#include <QByteArray>
#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QString>
#include <QThreadPool>

#include <cstdint>
#include <functional>
#include <string>

namespace snapsift {

inline constexpr int kPreviewSide = 256;             // a preview fits a square of this side
inline constexpr int kImageAllocationLimitMiB = 256;  // the largest image Qt may allocate
inline constexpr qint64 kPreviewCacheBytes = 48LL * 1024 * 1024;

// Which version of a file a preview shows.
struct FileVersion {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileVersion&) const = default;
};

// What a preview shows: the picture scaled to fit, or why there is none.
struct PicturePreview {
    QImage image;         // null when the file cannot be previewed
    QSize pixelSize;      // the picture's own size, with its orientation applied
    QByteArray format;    // "JPEG", "BMP", "GIF", ...
    QString failure;      // why there is no image, in the user's words
    FileVersion version;  // what was read; zero when the file could not be opened

    bool Ok() const { return !image.isNull(); }
};

// The line under a picture: "4000 × 3000 JPEG", or the "cannot preview"
// words with the reason.
QString PreviewText(const PicturePreview& preview);

// Sets Qt's image allocation limit for the whole process, so that no file,
// however its header lies, makes a decoder allocate more.
void LimitImageAllocation();

// Reads the file at `path` (raw bytes) and decodes it scaled to fit `box`,
// with its EXIF orientation applied. Never follows a link, never waits on a
// FIFO or device: only a regular file is read. Blocks on the disk and the
// decoder, so the window calls it only through PreviewLoader.
PicturePreview LoadPicturePreview(const std::string& path, QSize box = {kPreviewSide, kPreviewSide});

// Makes previews on worker threads and keeps the latest ones in a cache
// bounded by their bytes. Lives on the window's thread; its answers arrive
// there as Ready signals.
class PreviewLoader final : public QObject {
    Q_OBJECT
public:
    explicit PreviewLoader(QObject* parent = nullptr);
    ~PreviewLoader() override;  // drops queued work and waits for running decodes
    PreviewLoader(const PreviewLoader&) = delete;
    PreviewLoader& operator=(const PreviewLoader&) = delete;

    // The newest preview of `path` that the cache holds, or null. It may be
    // older than the file: Request checks.
    const PicturePreview* Find(const std::string& path) const;
    // Checks the file on a worker and decodes it unless the cache already
    // holds this version of it; Ready(path) follows either way. A request
    // for a path already being worked on joins that one. The newest request
    // is served first.
    void Request(const std::string& path);
    // True while some request has not been answered.
    bool Busy() const { return !pending_.isEmpty(); }
    // For tests and the benchmark: runs on the worker before each file is
    // opened, so a caller can hold a decode back while the window goes on.
    void SetWorkerHook(std::function<void()> hook) { workerHook_ = std::move(hook); }

signals:
    void Ready(const QByteArray& path);

private:
    void Deliver(const QByteArray& path, const PicturePreview& preview, bool unchanged);

    QThreadPool pool_;
    QCache<QByteArray, PicturePreview> cache_;  // keyed by path, version
    QHash<QByteArray, QByteArray> latestKey_;   // path -> key of its newest preview
    QSet<QByteArray> pending_;
    int nextPriority_ = 0;
    std::function<void()> workerHook_;
};

} // namespace snapsift
