// SPDX-License-Identifier: MIT
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

// Measures the longest stretch, from Start() to Stop(), in which the window's
// event loop was not run: how long the window could not repaint. A timer
// that would fire every millisecond notes each time it gets its turn.
class FreezeWatch final : public QObject {
public:
    FreezeWatch() { timer_.setInterval(1); }
    void Start()
    {
        longest_ = 0;
        turns_ = 0;
        last_.start();
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            Note();
            ++turns_;
        });
        timer_.start();
    }
    void Stop()
    {
        Note();
        timer_.stop();
        timer_.disconnect();
    }
    double LongestMs() const { return static_cast<double>(longest_) / 1e6; }
    int Turns() const { return turns_; }

private:
    void Note()
    {
        longest_ = std::max(longest_, last_.nsecsElapsed());
        last_.restart();
    }
    QTimer timer_;
    qint64 longest_ = 0;
    int turns_ = 0;
    QElapsedTimer last_;
};
