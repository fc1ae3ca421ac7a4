// SPDX-License-Identifier: MIT
#pragma once

#include "ui/preview/preview_wire.h"

#include <QByteArray>
#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

class QTimer;

namespace snapsift {

inline constexpr int kPreviewSide = 256;              // a preview fits a square of this side
inline constexpr int kImageAllocationLimitMiB = 256;  // the largest image Qt may allocate
class HelperStarter;
class ThumbnailCache;

inline constexpr qint64 kPreviewCacheBytes = 48LL * 1024 * 1024;

// What a preview shows: the picture scaled to fit, or why there is none.
struct PicturePreview {
    QImage image;       // null when the file cannot be previewed
    QSize pixelSize;    // the picture's own size, with its orientation applied
    QByteArray format;  // "JPEG", "BMP", "GIF", ...
    PreviewFailure failure = PreviewFailure::None;
    FileVersion version;         // what was read; zero when the file could not be opened
    bool fromThumbnail = false;  // the picture came from the desktop's thumbnail cache
    PictureFacts facts;

    bool Ok() const { return !image.isNull(); }
};

// The line under a picture: "4000 × 3000 JPEG", or the "cannot preview"
// words with the reason.
QString PreviewText(const PicturePreview& preview);
// The capture time and camera, one line each, as far as the picture gives
// them; empty when it gives neither.
QString FactsText(const PicturePreview& preview);

// Sets Qt's image allocation limit for the whole process, so that no file,
// however its header lies, makes a decoder allocate more.
void LimitImageAllocation();

// Reads the file at `path` (raw bytes) and decodes it scaled to fit `box`,
// with its EXIF orientation applied. Never follows a link, never waits on a
// FIFO or device: only a regular file is read. Blocks on the disk and the
// decoder, and a hostile file can make the decoder take much memory and
// time, so the window calls it only through PreviewLoader, which runs it in
// helper processes. `*unchanged` becomes true, and nothing is decoded, when
// the file is still the version `known`. With `thumbnails`, that cache is
// read before decoding (and failures are recorded in it).
PicturePreview LoadPicturePreview(const std::string& path, QSize box = {kPreviewSide, kPreviewSide},
                                  const FileVersion* known = nullptr, bool* unchanged = nullptr,
                                  const ThumbnailCache* thumbnails = nullptr);

// Stores `preview` of `path`, made for `box`, in the thumbnail cache when it
// is worth keeping there and the file is still the version it shows.
void KeepThumbnail(const std::string& path, const PicturePreview& preview, QSize box, const ThumbnailCache& cache);

// Makes previews in helper processes (this program started with
// --decode-preview; see preview_helper.h), at most two at once, and keeps the
// latest ones in a cache bounded by their bytes. A helper that runs past its
// time is killed and left behind, never waited for; until it has gone it
// keeps its place among the two, and it is reaped as soon as it ends. Lives
// on the window's thread; its answers arrive there as Ready signals.
class PreviewLoader final : public QObject {
    Q_OBJECT
public:
    explicit PreviewLoader(QObject* parent = nullptr);
    ~PreviewLoader() override;  // kills the helpers that are left, without waiting
    PreviewLoader(const PreviewLoader&) = delete;
    PreviewLoader& operator=(const PreviewLoader&) = delete;

    // The newest preview of `path` that the cache holds, or null. It may be
    // older than the file: Request checks.
    const PicturePreview* Find(const std::string& path) const;
    // Has a helper check the file and decode it unless the cache already
    // holds this version of it; Ready(path) follows either way. A request
    // for a path already being worked on joins that one. The newest request
    // is served first. A file that took too long is not tried again.
    void Request(const std::string& path);
    // Starts a helper ahead of the first request, so that it is ready when
    // the pointer comes to rest. Does something the first time only.
    void Prepare();
    // True while some request has not been answered.
    bool Busy() const { return !pending_.isEmpty(); }
    // For tests and the benchmark: while held, requests wait and no helper
    // is given work, so a caller can see what the window does meanwhile.
    void SetHeld(bool held);
    // How long a helper may take over one picture before it is killed;
    // applies to the pictures at work too, counted from when each was sent.
    void SetTimeLimit(int milliseconds);
    // The limit new loaders start with (tests raise it, so that a busy
    // machine does not decide their outcome).
    static void SetDefaultTimeLimit(int milliseconds);
    // The helpers running now, and those killed but not yet gone.
    int RunningHelpers() const { return static_cast<int>(helpers_.size()); }
    int LiveHelpers() const { return static_cast<int>(helpers_.size() + abandoned_.size()); }
    // Killed helpers that have not gone within kStuckAfterMs: the kernel holds them.
    int StuckHelpers() const;

    static constexpr int kMaxHelpers = 2;  // running and killed but not gone, together
    static constexpr int kDefaultTimeLimitMs = 5000;
    static constexpr int kStuckAfterMs = 1000;
    static constexpr int kReapPollMs = 200;

signals:
    void Ready(const QByteArray& path);
    // A killed helper has gone: what was refused for want of a helper
    // (PreviewFailure::HelpersStuck) can be asked for again.
    void HelperFreed();

private:
    struct Job {
        QByteArray path;
        bool haveKnown = false;
        FileVersion known;
    };
    struct Helper;
    struct Abandoned;

    void Pump();
    Helper* StartHelper();
    void Send(Helper& helper, Job job);
    void OnReadable(Helper& helper);
    void OnTimeout(Helper& helper);
    void Retire(Helper& helper, bool kill);
    void Watch(Abandoned& abandoned, pid_t pid);
    void Reap();
    void Deliver(const QByteArray& path, const PicturePreview& preview, bool unchanged);

    std::unique_ptr<HelperStarter> starter_;
    std::vector<std::unique_ptr<Helper>> helpers_;
    std::vector<std::unique_ptr<Abandoned>> abandoned_;  // killed helpers, reaped when gone
    QTimer* reapPoll_ = nullptr;
    QTimer* grace_ = nullptr;                   // when a killed helper that has not gone counts as stuck
    std::vector<Job> queue_;                    // the newest last
    QCache<QByteArray, PicturePreview> cache_;  // keyed by path, version
    QHash<QByteArray, QByteArray> latestKey_;   // path -> key of its newest preview
    QSet<QByteArray> pending_;
    bool held_ = false;
    bool prepared_ = false;
    int timeLimitMs_;
};

}  // namespace snapsift
