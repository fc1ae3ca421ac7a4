#pragma once

#include "platform/progress.h"

#include <QElapsedTimer>

#include <functional>
#include <mutex>

class QProgressBar;

namespace snapsift {

// Drives the window's progress bar. Long commands call it often; it repaints
// at most every few milliseconds and lets the window paint meanwhile, without
// taking any user input before the command ends.
class QtProgress final : public Progress {
public:
    explicit QtProgress(QProgressBar* bar);
    void SetRange(int lower, int upper) override;
    void DeltaPos(int step) override;
    void SetPos(int position) override;
    void WhileWaiting() override;

private:
    void Show(bool now);

    QProgressBar* bar_;
    long long lower_ = 0;
    long long upper_ = 100;
    long long position_ = 0;
    QElapsedTimer sinceShown_;
};

// Progress of work that runs on another thread: that thread drives it, and
// the window's thread puts its latest state on the bar. The bar keeps its
// position within its range, as QtProgress does.
class ProgressRelay final : public Progress {
public:
    void SetRange(int lower, int upper) override;
    void DeltaPos(int step) override;
    void SetPos(int position) override;
    // On the window's thread.
    void ShowOn(QProgressBar* bar);

private:
    std::mutex mutex_;
    long long lower_ = 0;
    long long upper_ = 100;
    long long position_ = 0;
    bool rangeChanged_ = false;
};

// Runs `work` on a thread of its own, driving `progress`, while this thread
// only paints the window and shows the progress on `bar`; user input waits
// as it does while a command runs. Returns once `work` has ended. With
// `takeInput`, user input is handed on meanwhile, for a BusyWindow to
// look at (an Esc that stops the work) and throw away.
void RunBesideWindow(QProgressBar* bar, const std::function<void(Progress&)>& work, bool takeInput = false);

} // namespace snapsift
