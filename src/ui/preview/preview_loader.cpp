// SPDX-License-Identifier: MIT
// The helper processes that decode previews, and the cache of their answers.
#include "ui/preview/picture_preview.h"

#include "ui/preview/helper_starter.h"
#include "ui/preview/preview_helper.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
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


void SetNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}


constexpr qsizetype kMaxReplyBytes =
    static_cast<qsizetype>(sizeof(preview_wire::Reply)) + 4LL * kPreviewSide * kPreviewSide;

} // namespace


// One helper process and the connection to it.
struct PreviewLoader::Helper {
    std::shared_ptr<HelperStart> start;
    int socket = -1;                     // both ways; a socket, so a gone helper raises no SIGPIPE
    QSocketNotifier* notifier = nullptr;  // deleted later: it may be what calls Retire
    QTimer* deadline = nullptr;           // the same
    QElapsedTimer sent;                   // since the request went
    bool busy = false;
    Job job;
    QByteArray inbox;
};

void PreviewLoader::SetHelperProgram(const std::string& program)
{
    HelperProgram() = program;
}

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

// A helper that was killed and has not gone yet. It still holds memory and
// whatever the kernel holds it in, so it counts against the helpers' limit.
struct PreviewLoader::Abandoned {
    std::shared_ptr<HelperStart> start;
    pid_t pid = -1;                       // -1 until its starter knows it
    int pidfd = -1;                       // readable once the process has ended
    QSocketNotifier* notifier = nullptr;  // on pidfd; deleted later, as it may be what calls Reap
    QElapsedTimer since;                  // since it was killed
};

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
    return static_cast<int>(std::count_if(abandoned_.begin(), abandoned_.end(), [](const auto& a) {
        return a->since.elapsed() >= kStuckAfterMs;
    }));
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

PreviewLoader::Helper* PreviewLoader::StartHelper()
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return nullptr;
    // Requests can be sent at once: the connection holds them until the
    // helper reads. One that cannot start closes it, and the loader sees the end.
    auto helper = std::make_unique<Helper>();
    helper->start = starter_->Start(ends[1]);
    helper->socket = ends[0];
    SetNonBlocking(helper->socket);
    Helper* raw = helper.get();
    helper->notifier = new QSocketNotifier(helper->socket, QSocketNotifier::Read, this);
    connect(helper->notifier, &QSocketNotifier::activated, this, [this, raw] { OnReadable(*raw); });
    helper->deadline = new QTimer(this);
    helper->deadline->setSingleShot(true);
    connect(helper->deadline, &QTimer::timeout, this, [this, raw] { OnTimeout(*raw); });
    helpers_.push_back(std::move(helper));
    return raw;
}

void PreviewLoader::Send(Helper& helper, Job job)
{
    preview_wire::Request request;
    request.pathBytes = static_cast<std::uint32_t>(job.path.size());
    request.boxWidth = kPreviewSide;
    request.boxHeight = kPreviewSide;
    request.haveKnown = job.haveKnown ? 1 : 0;
    request.known = job.known;
    QByteArray bytes(reinterpret_cast<const char*>(&request), sizeof request);
    bytes.append(job.path);
    helper.busy = true;
    helper.job = std::move(job);
    helper.inbox.clear();
    helper.sent.start();
    helper.deadline->start(timeLimitMs_);
    // An idle helper's pipe is empty and holds far more than one request.
    const bool fits = helper.job.path.size() <= static_cast<qsizetype>(preview_wire::kMaxPathBytes);
    const ssize_t wrote = fits ? ::send(helper.socket, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL) : -1;
    if (wrote != bytes.size()) {
        const QByteArray path = helper.job.path;
        Retire(helper, true);
        Deliver(path, Failed(PreviewFailure::CannotOpen), false);
    }
}

void PreviewLoader::OnReadable(Helper& helper)
{
    char buffer[64 * 1024];
    bool ended = false;
    for (;;) {
        const ssize_t got = ::read(helper.socket, buffer, sizeof buffer);
        if (got > 0) {
            helper.inbox.append(buffer, got);
            if (helper.inbox.size() > kMaxReplyBytes) {
                ended = true;
                break;
            }
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        ended = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
    }

    using preview_wire::Reply;
    using preview_wire::ReplyKind;
    std::optional<PicturePreview> answer;
    bool unchanged = false;
    QByteArray path = helper.job.path;
    if (helper.busy && helper.inbox.size() >= static_cast<qsizetype>(sizeof(Reply))) {
        Reply reply;
        std::memcpy(&reply, helper.inbox.constData(), sizeof reply);
        const bool sane = reply.magic == preview_wire::kReplyMagic && reply.imageWidth >= 0 &&
                          reply.imageHeight >= 0 && reply.imageWidth <= kPreviewSide &&
                          reply.imageHeight <= kPreviewSide &&
                          (reply.kind != ReplyKind::Picture || (reply.imageWidth > 0 && reply.imageHeight > 0));
        const qsizetype pixels = sane && reply.kind == ReplyKind::Picture
                                     ? static_cast<qsizetype>(reply.imageWidth) * reply.imageHeight * 4
                                     : 0;
        if (!sane) {
            ended = true;
        } else if (helper.inbox.size() >= static_cast<qsizetype>(sizeof reply) + pixels) {
            PicturePreview preview;
            preview.version = reply.version;
            preview.failure = reply.kind == ReplyKind::Picture ? PreviewFailure::None : reply.failure;
            if (preview.failure < PreviewFailure::None || preview.failure > PreviewFailure::TookTooLong ||
                (reply.kind == ReplyKind::Failure && preview.failure == PreviewFailure::None))
                preview.failure = PreviewFailure::Broken;
            preview.pixelSize = QSize(reply.pixelWidth, reply.pixelHeight);
            preview.format = QByteArray(reply.format, static_cast<qsizetype>(strnlen(reply.format, sizeof reply.format)));
            preview.fromThumbnail = reply.fromThumbnail != 0;
            preview.facts = reply.facts;  // shown through FactsText, which bounds each field
            if (reply.kind == ReplyKind::Picture) {
                QImage image(reply.imageWidth, reply.imageHeight, QImage::Format_ARGB32_Premultiplied);
                const qsizetype row = static_cast<qsizetype>(reply.imageWidth) * 4;
                for (int y = 0; y < image.height(); ++y)
                    std::memcpy(image.scanLine(y), helper.inbox.constData() + sizeof reply + y * row,
                                static_cast<size_t>(row));
                preview.image = std::move(image);
            }
            answer = std::move(preview);
            unchanged = reply.kind == ReplyKind::Unchanged;
            helper.busy = false;
            helper.deadline->stop();
            helper.inbox.remove(0, static_cast<qsizetype>(sizeof reply) + pixels);
        }
    }
    if (ended) {
        // Gone: after its answer (memory ran out and it said so), without
        // one when the decoder broke down, or before it ever ran.
        const bool lost = helper.busy;
        bool started = true;
        {
            const std::lock_guard lock(helper.start->mutex);
            started = helper.start->pid != 0;
        }
        Retire(helper, true);
        if (lost)
            Deliver(path, Failed(started ? PreviewFailure::Broken : PreviewFailure::CannotOpen), false);
    }
    if (answer)
        Deliver(path, *answer, unchanged);
    Pump();
}

void PreviewLoader::OnTimeout(Helper& helper)
{
    if (!helper.busy)
        return;
    const QByteArray path = helper.job.path;
    Retire(helper, true);
    Deliver(path, Failed(PreviewFailure::TookTooLong), false);
    Pump();
}

void PreviewLoader::Retire(Helper& helper, bool kill)
{
    pid_t pid = -1;
    {
        const std::lock_guard lock(helper.start->mutex);
        pid = helper.start->pid;
        if (pid < 0)
            helper.start->cancelled = kill;
    }
    if (kill && pid > 0)
        ::kill(pid, SIGKILL);
    helper.notifier->setEnabled(false);
    helper.notifier->disconnect(this);
    helper.notifier->deleteLater();
    helper.deadline->stop();
    helper.deadline->disconnect(this);
    helper.deadline->deleteLater();
    ::close(helper.socket);
    // Reaped now if already gone, or as soon as it ends; never waited for.
    if (pid != 0 && (pid < 0 || ::waitpid(pid, nullptr, WNOHANG) == 0)) {
        auto abandoned = std::make_unique<Abandoned>();
        abandoned->start = helper.start;
        abandoned->since.start();
        abandoned_.push_back(std::move(abandoned));
        if (pid > 0)
            Watch(*abandoned_.back(), pid);
        else
            reapPoll_->start();
    }
    std::erase_if(helpers_, [&helper](const std::unique_ptr<Helper>& h) { return h.get() == &helper; });
}

void PreviewLoader::Watch(Abandoned& abandoned, pid_t pid)
{
    abandoned.pid = pid;
    abandoned.pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (abandoned.pidfd < 0) {
        reapPoll_->start();
        return;
    }
    ::fcntl(abandoned.pidfd, F_SETFD, FD_CLOEXEC);
    abandoned.notifier = new QSocketNotifier(abandoned.pidfd, QSocketNotifier::Read, this);
    connect(abandoned.notifier, &QSocketNotifier::activated, this, &PreviewLoader::Reap);
}

void PreviewLoader::Reap()
{
    const std::size_t before = abandoned_.size();
    bool polled = false;
    std::erase_if(abandoned_, [this, &polled](const std::unique_ptr<Abandoned>& a) {
        if (a->pid < 0) {
            pid_t pid = -1;
            {
                const std::lock_guard lock(a->start->mutex);
                pid = a->start->pid;
            }
            if (pid == 0)
                return true;  // never started
            if (pid > 0)
                Watch(*a, pid);
            polled = polled || a->pidfd < 0;
            if (pid < 0 || a->pidfd >= 0)
                return false;  // still starting, or watched from now on
        }
        if (::waitpid(a->pid, nullptr, WNOHANG) == 0) {
            polled = polled || a->pidfd < 0;
            return false;
        }
        if (a->notifier) {
            a->notifier->setEnabled(false);
            a->notifier->disconnect(this);
            a->notifier->deleteLater();
        }
        if (a->pidfd >= 0)
            ::close(a->pidfd);
        return true;
    });
    if (!polled)
        reapPoll_->stop();
    if (abandoned_.size() < before) {
        Pump();
        emit HelperFreed();
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

} // namespace snapsift
