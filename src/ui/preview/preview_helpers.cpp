// SPDX-License-Identifier: MIT
// The helper processes that decode previews: starting them, handing them
// work, reading their answers, and letting go of them without waiting.
#include "ui/preview/picture_preview.h"
#include "ui/preview/preview_helper.h"
#include "ui/preview/preview_loader_parts.h"
#include "ui/preview/preview_reply.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace snapsift {

namespace {

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

}  // namespace

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
    const ssize_t wrote =
        fits ? ::send(helper.socket, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL) : -1;
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

    std::optional<PicturePreview> answer;
    bool unchanged = false;
    QByteArray path = helper.job.path;
    if (helper.busy) {
        ReplyRead read = ReadReply(helper.inbox);
        if (read.state == ReplyRead::State::Broken) {
            ended = true;
        } else if (read.state == ReplyRead::State::Complete) {
            answer = std::move(read.preview);
            unchanged = read.unchanged;
            helper.busy = false;
            helper.deadline->stop();
            helper.inbox.remove(0, read.bytes);
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

}  // namespace snapsift
