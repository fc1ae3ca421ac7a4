// SPDX-License-Identifier: MIT
#pragma once

#include "review/content_check.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace snapsift {

// Opens a list of copies on a thread of its own and notes the state of each,
// as far as a content check's answers depend on it: an open may wait for as
// long as a disk does not answer, which the window must not. The thread owns
// what it fills and nothing else; the window reads it when it likes. A probe
// given up stops after the file in hand, or whenever that file's disk lets
// it go, and then touches nothing.
class ContentProbe final {
public:
    using State = std::optional<ContentChecker::FileState>;

    explicit ContentProbe(std::vector<ContentChecker::CopyPlace> places);
    ~ContentProbe();  // gives the probe up; never waits for it
    ContentProbe(const ContentProbe&) = delete;
    ContentProbe& operator=(const ContentProbe&) = delete;

    std::size_t Size() const;
    // How many copies, from the first, have been looked at.
    std::size_t Done() const;
    bool Finished() const { return Done() == Size(); }
    // The state of copy `i` < Done(): empty when it could not be opened as found.
    State StateAt(std::size_t i) const;
    // The thread stops after the copy in hand; Ended() tells when it has.
    void GiveUp();
    bool Ended() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace snapsift
