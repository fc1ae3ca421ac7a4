#pragma once

#include "platform/progress.h"

#include <QElapsedTimer>

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

} // namespace snapsift
