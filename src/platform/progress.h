// SPDX-License-Identifier: MIT
#pragma once

namespace snapsift {

// The progress bar as the long commands drive it. The bar keeps its position
// within its range: a step past the upper bound leaves it full.
class Progress {
public:
    virtual ~Progress() = default;
    virtual void SetRange(int lower, int upper) = 0;
    virtual void DeltaPos(int step) = 0;
    virtual void SetPos(int position) = 0;
    // Called again and again while a command waits for something outside
    // it (another program's lock), so that a window can paint meanwhile.
    virtual void WhileWaiting() { }
    // A search's walk has listed `listed` of the `known` folders found so
    // far, the target being the first. Called besides the steps above, for a
    // display that shows the walk as it goes.
    virtual void FolderListed(long long listed, long long known)
    {
        static_cast<void>(listed), static_cast<void>(known);
    }
};

// For callers without a bar (the report mode).
class NullProgress final : public Progress {
public:
    void SetRange(int, int) override { }
    void DeltaPos(int) override { }
    void SetPos(int) override { }
};

}  // namespace snapsift
