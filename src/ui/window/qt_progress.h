// SPDX-License-Identifier: MIT
#pragma once

#include "platform/progress.h"

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

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
    // On the window's thread. Until the first step past the lower bound,
    // a relay made busy shows a busy bar rather than an empty one.
    void ShowOn(QProgressBar* bar);
    void ShowBusyUntilFirstStep();

private:
    std::mutex mutex_;
    long long lower_ = 0;
    long long upper_ = 100;
    long long position_ = 0;
    bool rangeChanged_ = false;
    bool busyUntilStep_ = false;
    bool shownBusy_ = false;
};

// A search's progress as the window shows it: while the walk lists folders,
// the folders listed of those found so far, so that the bar advances as the
// walk goes; after the walk (its last step sets the position), the search's
// own steps as they come.
class WalkProgress final : public Progress {
public:
    explicit WalkProgress(Progress& shown) : shown_(shown) { }
    void SetRange(int lower, int upper) override;
    void DeltaPos(int step) override;
    void SetPos(int position) override;
    void FolderListed(long long listed, long long known) override;

private:
    Progress& shown_;
    bool walking_ = false;
};

// Work that runs on a thread of its own, driving a progress relay, while the
// window's thread only paints the window and shows the progress on its bar.
// Input reaches the window meanwhile, for a BusyWindow to throw away or to
// turn into a stop. Whatever the work touches must be its own (held by its
// function): a stopped work that does not end soon is left to end alone.
class BesideWindow final {
public:
    // Without `takeInput`, user input waits in the queues meanwhile.
    explicit BesideWindow(std::function<void(Progress&, const std::stop_token&)> work, bool takeInput = true);
    // Joins the thread if the work has ended, else lets it end on its own.
    ~BesideWindow();
    BesideWindow(const BesideWindow&) = delete;
    BesideWindow& operator=(const BesideWindow&) = delete;

    // Paints the window and shows the progress on `bar` until the work has
    // ended (true), or until it was abandoned (false): it was stopped while
    // `answersStop` was false and that did not change within `stopGrace`,
    // or Abandon() was called. `answersStop` says when the work answers a
    // stop at once, waiting on nothing outside.
    bool Wait(QProgressBar* bar, const std::atomic<bool>& answersStop,
              std::chrono::milliseconds stopGrace = kStopGrace);
    // Asks the work to end soon.
    void Stop();
    // Makes Wait return at once, without the work's end.
    void Abandon();
    // The bar is busy until the work's first step (a first read that does
    // not return shows as work going on).
    void ShowBusyUntilFirstStep();

    // How long a stopped work that waits on something outside (a slow disk)
    // may take to let go, by default, before it is left to end alone; what
    // it found by then is lost with it.
    static constexpr std::chrono::milliseconds kStopGrace{60};

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    bool takeInput_;
    bool ended_ = false;
};

// Runs `work` on a thread of its own, driving `progress`, while this thread
// only paints the window and shows the progress on `bar`; user input waits
// as it does while a command runs. Returns once `work` has ended. With
// `takeInput`, user input is handed on meanwhile, for a BusyWindow to
// look at (an Esc that stops the work) and throw away. With `busyUntilFirstStep`,
// the bar is busy until the work's first step.
void RunBesideWindow(QProgressBar* bar, const std::function<void(Progress&)>& work, bool takeInput = false,
                     bool busyUntilFirstStep = false);

}  // namespace snapsift
