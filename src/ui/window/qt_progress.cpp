#include "ui/window/qt_progress.h"

#include <QCoreApplication>
#include <QProgressBar>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <thread>

namespace snapsift {
namespace {
constexpr qint64 kRepaintMilliseconds = 30;

// Qt shows an empty range as a busy, animated bar: show an empty bar instead.
void SetBarRange(QProgressBar* bar, long long lower, long long upper)
{
    bar->setRange(static_cast<int>(lower), static_cast<int>(std::min<long long>(std::max(upper, lower + 1), INT_MAX)));
}
} // namespace

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

void ProgressRelay::ShowOn(QProgressBar* bar)
{
    long long lower, upper, position;
    bool rangeChanged;
    {
        const std::lock_guard lock(mutex_);
        lower = lower_;
        upper = upper_;
        position = position_;
        rangeChanged = rangeChanged_;
        rangeChanged_ = false;
    }
    if (rangeChanged)
        SetBarRange(bar, lower, upper);
    bar->setValue(static_cast<int>(position));
}

void RunBesideWindow(QProgressBar* bar, const std::function<void(Progress&)>& work, bool takeInput)
{
    ProgressRelay relay;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::jthread worker([&] {
        work(relay);
        const std::lock_guard lock(mutex);
        done = true;
        ended.notify_one();
    });
    for (;;) {
        relay.ShowOn(bar);
        QCoreApplication::processEvents(takeInput ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        std::unique_lock lock(mutex);
        if (ended.wait_for(lock, std::chrono::milliseconds(kRepaintMilliseconds / 2), [&] { return done; }))
            break;
    }
    worker.join();
    // The bar's last state, and whatever else waits to be painted, is shown
    // before the caller goes on.
    relay.ShowOn(bar);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace snapsift
