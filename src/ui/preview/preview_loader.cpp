// SPDX-License-Identifier: MIT
// The previews the window asks for: the requests, the order they are served
// in, and the cache of the helpers' answers.
#include "ui/preview/picture_preview.h"
#include "ui/preview/preview_loader_parts.h"

#include <QMetaObject>

#include <algorithm>
#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace snapsift {

namespace {

QByteArray CacheKey(const QByteArray& path, const FileVersion& version)
{
    QByteArray key = path;
    key.append('\0');
    key.append(reinterpret_cast<const char*>(&version), sizeof version);
    return key;
}

PicturePreview Failed(PreviewFailure failure)
{
    PicturePreview preview;
    preview.failure = failure;
    return preview;
}

}  // namespace

static int g_defaultTimeLimitMs = PreviewLoader::kDefaultTimeLimitMs;

void PreviewLoader::SetDefaultTimeLimit(int milliseconds)
{
    g_defaultTimeLimitMs = milliseconds;
}

void PreviewLoader::SetTimeLimit(int milliseconds)
{
    timeLimitMs_ = milliseconds;
    for (const auto& helper : helpers_) {
        if (helper->busy)
            helper->deadline->start(static_cast<int>(std::max<qint64>(0, milliseconds - helper->sent.elapsed())));
    }
}

PreviewLoader::PreviewLoader(QObject* parent)
    : QObject(parent), starter_(std::make_unique<HelperStarter>()), timeLimitMs_(g_defaultTimeLimitMs)
{
    cache_.setMaxCost(kPreviewCacheBytes);
    // For helpers whose end no pidfd announces: not yet started when killed,
    // or a kernel without pidfd_open.
    reapPoll_ = new QTimer(this);
    reapPoll_->setInterval(kReapPollMs);
    connect(reapPoll_, &QTimer::timeout, this, &PreviewLoader::Reap);
    grace_ = new QTimer(this);
    grace_->setSingleShot(true);
    connect(grace_, &QTimer::timeout, this, &PreviewLoader::Pump);
}

PreviewLoader::~PreviewLoader()
{
    // A helper stuck in the kernel goes when it can; the window does not wait.
    while (!helpers_.empty())
        Retire(*helpers_.back(), true);
    starter_.reset();  // every start has ended: each pid is known
    for (const auto& a : abandoned_) {
        if (a->notifier)
            a->notifier->setEnabled(false);
        if (a->pidfd >= 0)
            ::close(a->pidfd);
        pid_t pid = a->pid;
        if (pid < 0) {
            const std::lock_guard lock(a->start->mutex);
            pid = a->start->pid;
        }
        // Reaped beside the window whenever the kernel lets it go.
        if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0)
            std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    }
}

int PreviewLoader::StuckHelpers() const
{
    return static_cast<int>(std::count_if(abandoned_.begin(), abandoned_.end(),
                                          [](const auto& a) { return a->since.elapsed() >= kStuckAfterMs; }));
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
    if (cached && cached->failure == PreviewFailure::HelpersStuck)
        cached = nullptr;  // refused for want of a helper, not for the file: asked again
    if (cached && cached->failure == PreviewFailure::TookTooLong) {
        // Not tried again: its helper may still be stuck on it.
        QMetaObject::invokeMethod(
            this, [this, pathBytes] { Deliver(pathBytes, {}, true); }, Qt::QueuedConnection);
        return;
    }
    Job job;
    job.path = pathBytes;
    job.haveKnown = cached != nullptr;
    job.known = cached ? cached->version : FileVersion{};
    queue_.push_back(std::move(job));
    Pump();
}

void PreviewLoader::Prepare()
{
    // Once: later helpers start on demand, and one that cannot start is not
    // tried again at every move of the pointer.
    if (!prepared_ && helpers_.empty())
        StartHelper();
    prepared_ = true;
}

void PreviewLoader::SetHeld(bool held)
{
    held_ = held;
    if (!held_)
        Pump();
}

void PreviewLoader::Pump()
{
    while (!held_ && !queue_.empty()) {
        Helper* idle = nullptr;
        bool working = false;
        for (const auto& helper : helpers_) {
            if (!helper->busy)
                idle = helper.get();
            working = working || helper->busy;
        }
        const bool room = LiveHelpers() < kMaxHelpers;
        if (!idle && room)
            idle = StartHelper();
        if (!idle && !room) {
            // The next free helper takes the newest request. Killed helpers
            // that have not gone hold their places: requests wait while one
            // may still go, and are refused with the reason once every place
            // is held by a helper stuck in the kernel.
            if (working)
                return;
            if (StuckHelpers() < static_cast<int>(abandoned_.size())) {
                qint64 youngest = kStuckAfterMs;
                for (const auto& a : abandoned_)
                    youngest = std::min(youngest, a->since.elapsed());
                grace_->start(static_cast<int>(std::max<qint64>(1, kStuckAfterMs - youngest)));
                return;
            }
        }
        Job job = std::move(queue_.back());
        queue_.pop_back();
        if (!idle) {
            // No helper can be started, or none can be had now.
            Deliver(job.path, Failed(room ? PreviewFailure::CannotOpen : PreviewFailure::HelpersStuck), false);
            continue;
        }
        Send(*idle, std::move(job));
    }
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

}  // namespace snapsift
