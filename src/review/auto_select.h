// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <vector>

namespace snapsift {

class ContentChecker;
class Progress;
class ResultView;

// How automatic selection decides.
struct AutoSelectOptions {
    // Compares contents: a row is picked only when its bytes equal those of a
    // later copy. Null: name, size and creation time alone decide.
    ContentChecker* checker = nullptr;
    // One flag per table row: rows under a protected folder, never picked
    // (but still later copies that keep others). Null or empty: none.
    const std::vector<std::uint8_t>* protectedRows = nullptr;
};

// What automatic selection did.
struct AutoSelectOutcome {
    bool stopped = false;  // the content check was stopped: nothing changed
    int differing = 0;     // rows left unpicked because their bytes differ from every later copy
    int unreadable = 0;    // rows left unpicked because their file is gone, changed or unreadable
    // Those rows' table rows, each with why: an errno, or 0 for a file that
    // went or changed since the search.
    struct Unread {
        int row = 0;
        int error = 0;
    };
    std::vector<Unread> unread;
    int protectedRows = 0;    // listed rows left unpicked because they lie under a protected folder
    std::vector<int> picked;  // the list rows picked, in list order; none when stopped
};

// Picks, of the rows the list shows, every row for which the table holds a
// row of the same name and size with a later creation time (by a whole
// second) and, with a checker, the same bytes. The view is not changed: the
// caller selects the rows picked, in place of what was selected.
AutoSelectOutcome PickOlderCopies(const ResultView& view, Progress& progress, const AutoSelectOptions& options = {});

}  // namespace snapsift
