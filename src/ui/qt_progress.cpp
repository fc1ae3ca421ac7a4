#include "ui/qt_progress.h"

#include <QCoreApplication>
#include <QProgressBar>

#include <algorithm>
#include <climits>

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
    // Qt shows an empty range as a busy, animated bar: show an empty bar.
    bar_->setRange(lower, static_cast<int>(std::min<long long>(std::max(upper_, lower_ + 1), INT_MAX)));
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

} // namespace snapsift
