// SPDX-License-Identifier: MIT
#include "ui/window/qt_progress.h"

#include <QCoreApplication>
#include <QProgressBar>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <optional>
#include <thread>

namespace snapsift {
namespace {
constexpr qint64 kRepaintMilliseconds = 30;

// Qt shows an empty range as a busy, animated bar: show an empty bar instead.
void SetBarRange(QProgressBar* bar, long long lower, long long upper)
{
    bar->setRange(static_cast<int>(lower), static_cast<int>(std::min<long long>(std::max(upper, lower + 1), INT_MAX)));
}
}  // namespace

QtProgress::QtProgress(QProgressBar* bar) : bar_(bar)
{
    sinceShown_.start();
}

void QtProgress::SetRange(int lower, int upper)
{
    lower_ = lower;
    upper_ = std::max(lower, upper);
    position_ = std::clamp(position_, lower_, upper_);
    SetBarRange(bar_, lower_, upper_);
    Show(true);
}

void QtProgress::DeltaPos(int step)
{
    position_ = std::clamp(position_ + step, lower_, upper_);
    Show(false);
}

void QtProgress::SetPos(int position)
{
    position_ = std::clamp<long long>(position, lower_, upper_);
    Show(position_ == lower_);
}

void QtProgress::WhileWaiting()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtProgress::Show(bool now)
{
    if (!now && sinceShown_.elapsed() < kRepaintMilliseconds)
        return;
    bar_->setValue(static_cast<int>(position_));
    sinceShown_.restart();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ProgressRelay::SetRange(int lower, int upper)
{
    const std::lock_guard lock(mutex_);
    lower_ = lower;
    upper_ = std::max(lower, upper);
    position_ = std::clamp(position_, lower_, upper_);
    rangeChanged_ = true;
}

void ProgressRelay::DeltaPos(int step)
{
    const std::lock_guard lock(mutex_);
    position_ = std::clamp(position_ + step, lower_, upper_);
}

void ProgressRelay::SetPos(int position)
{
    const std::lock_guard lock(mutex_);
    position_ = std::clamp<long long>(position, lower_, upper_);
}

void ProgressRelay::ShowBusyUntilFirstStep()
{
    const std::lock_guard lock(mutex_);
    busyUntilStep_ = true;
}

void ProgressRelay::ShowOn(QProgressBar* bar)
{
    long long lower, upper, position;
    bool rangeChanged;
    bool busy = false;
    {
        const std::lock_guard lock(mutex_);
        if (busyUntilStep_ && position_ > lower_)
            busyUntilStep_ = false;
        busy = busyUntilStep_;
        lower = lower_;
        upper = upper_;
        position = position_;
        rangeChanged = rangeChanged_ || (shownBusy_ && !busy);
        rangeChanged_ = false;
        shownBusy_ = busy;
    }
    if (busy) {
        // Qt shows an empty range as a busy, animated bar.
        if (bar->maximum() != 0 || bar->minimum() != 0)
            bar->setRange(0, 0);
        return;
    }
    if (rangeChanged)
        SetBarRange(bar, lower, upper);
    bar->setValue(static_cast<int>(position));
}

void WalkProgress::SetRange(int lower, int upper)
{
    if (!walking_)
        shown_.SetRange(lower, upper);
}

void WalkProgress::DeltaPos(int step)
{
    if (!walking_)
        shown_.DeltaPos(step);
}

void WalkProgress::SetPos(int position)
{
    walking_ = false;
    shown_.SetPos(position);
}

void WalkProgress::FolderListed(long long listed, long long known)
{
    walking_ = true;
    const auto clamp = [](long long value) { return static_cast<int>(std::clamp<long long>(value, 0, INT_MAX)); };
    shown_.SetRange(0, clamp(known));
    shown_.SetPos(clamp(listed));
}

struct BesideWindow::Shared {
    std::function<void(Progress&, const std::stop_token&)> work;
    ProgressRelay relay;
    std::stop_source stop;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    bool abandoned = false;
};

BesideWindow::BesideWindow(std::function<void(Progress&, const std::stop_token&)> work, bool takeInput)
    : shared_(std::make_shared<Shared>()), takeInput_(takeInput)
{
    shared_->work = std::move(work);
    thread_ = std::thread([shared = shared_] {
        shared->work(shared->relay, shared->stop.get_token());
        const std::lock_guard lock(shared->mutex);
        shared->done = true;
        shared->ended.notify_all();
    });
}

BesideWindow::~BesideWindow()
{
    if (ended_)
        thread_.join();
    else
        thread_.detach();  // stuck on a slow disk, perhaps: it ends on its own
}

void BesideWindow::Stop()
{
    shared_->stop.request_stop();
}

void BesideWindow::Abandon()
{
    const std::lock_guard lock(shared_->mutex);
    shared_->abandoned = true;
    shared_->ended.notify_all();
}

void BesideWindow::ShowBusyUntilFirstStep()
{
    shared_->relay.ShowBusyUntilFirstStep();
}

bool BesideWindow::Wait(QProgressBar* bar, const std::atomic<bool>& answersStop, std::chrono::milliseconds stopGrace)
{
    std::optional<std::chrono::steady_clock::time_point> stoppedAt;
    for (;;) {
        shared_->relay.ShowOn(bar);
        QCoreApplication::processEvents(takeInput_ ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        if (!stoppedAt && shared_->stop.stop_requested())
            stoppedAt = std::chrono::steady_clock::now();
        std::unique_lock lock(shared_->mutex);
        if (shared_->ended.wait_for(lock, std::chrono::milliseconds(kRepaintMilliseconds / 2),
                                    [this] { return shared_->done || shared_->abandoned; }))
            break;
        if (stoppedAt && !answersStop.load() && std::chrono::steady_clock::now() - *stoppedAt > stopGrace)
            shared_->abandoned = true;
        if (shared_->abandoned)
            break;
    }
    {
        const std::lock_guard lock(shared_->mutex);
        ended_ = shared_->done;
    }
    if (!ended_)
        return false;
    // The bar's last state, and whatever else waits to be painted, is shown
    // before the caller goes on.
    shared_->relay.ShowOn(bar);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return true;
}

void RunBesideWindow(QProgressBar* bar, const std::function<void(Progress&)>& work, bool takeInput,
                     bool busyUntilFirstStep)
{
    // Never stopped, so never left to end alone: `work` may use what lives here.
    BesideWindow beside([&work](Progress& progress, const std::stop_token&) { work(progress); }, takeInput);
    const int lower = bar->minimum();
    const int upper = bar->maximum();
    if (busyUntilFirstStep)
        beside.ShowBusyUntilFirstStep();
    const std::atomic<bool> answersStop{true};
    beside.Wait(bar, answersStop);
    if (busyUntilFirstStep && bar->minimum() == 0 && bar->maximum() == 0)
        bar->setRange(lower, upper);  // never stepped: the bar is no longer busy
}

}  // namespace snapsift
