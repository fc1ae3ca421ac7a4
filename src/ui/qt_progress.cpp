#include "ui/qt_progress.h"

#include <QCoreApplication>
#include <QProgressBar>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

namespace snapsift {
namespace {
constexpr qint64 kRepaintMilliseconds = 30;
}

QtProgress::QtProgress(QProgressBar* bar) : bar_(bar)
{
    sinceShown_.start();
}

void QtProgress::SetRange(int lower, int upper)
{
    lower_ = lower;
    upper_ = std::max(lower, upper);
    position_ = std::clamp(position_, lower_, upper_);
    bar_->setRange(lower, static_cast<int>(upper_));
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
        bar->setRange(static_cast<int>(lower), static_cast<int>(upper));
    bar->setValue(static_cast<int>(position));
}

void RunBesideWindow(QProgressBar* bar, const std::function<void(Progress&)>& work)
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
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        std::unique_lock lock(mutex);
        if (ended.wait_for(lock, std::chrono::milliseconds(kRepaintMilliseconds / 2), [&] { return done; }))
            break;
    }
    worker.join();
    relay.ShowOn(bar);
}

} // namespace snapsift
