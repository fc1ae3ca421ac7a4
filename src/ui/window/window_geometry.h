// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>
#include <QSize>

#include <vector>

class QHeaderView;
class QWidget;

namespace snapsift {

// Which way a control follows the window's edges when the window grows
// beyond the size it opens at. A control with no flag keeps its place
// relative to the top left corner.
enum EdgeFollow : int {
    kFollowNone = 0,
    kFollowRight = 1,   // keeps its distance to the right edge
    kFollowBottom = 2,  // keeps its distance to the bottom edge
    kGrowWidth = 4,     // keeps its left place and grows with the window's width
    kGrowHeight = 8,    // keeps its top place and grows with the window's height
};

// The controls of a window laid out for one size, and how each follows the
// window when it is larger.
class EdgeLayout final {
public:
    // Adds a control, or places one added before anew.
    void Add(QWidget* widget, const QRect& base, int follow);
    // Places every control for a window of `size`; `base` is the size the
    // rectangles were made for.
    void Apply(QSize base, QSize size) const;

private:
    struct Entry {
        QWidget* widget;
        QRect base;
        int follow;
    };
    std::vector<Entry> entries_;
};

// `area` of a control with a frame `frame` wide, made smaller by less than a
// screen pixel on each side so that the inside of the frame begins and ends
// on whole screen pixels at `scale` (device pixels per unit).
QRect AlignInsideToPixels(const QRect& area, int frame, double scale);

// What the main window remembers between runs, in the "window" group of the
// program's settings file.
struct WindowMemory {
    bool hasGeometry = false;  // a size, and a place unless hasPosition is false
    bool hasPosition = false;
    // When not maximised: where the window's frame stands and the size of
    // the window within it.
    QPoint position;
    QSize size;
    bool maximized = false;
    std::vector<int> columns;   // the result list's column widths, left to right
    bool ownNameWidth = false;  // the name column's width is the user's, not fitted to the names
};

WindowMemory ReadWindowMemory();
void WriteWindowMemory(const WindowMemory& memory);
// The window's present state and its list's column widths.
WindowMemory CurrentWindowMemory(const QWidget& window, const QHeaderView& header);

// Whether the top edge of a window's area lies on one of the screens, so
// that the window can be seen and grabbed there.
bool TopEdgeOnAScreen(const QRect& area);

// `area` (a window's frame's top left and its size) moved, and made smaller
// where it must, to lie wholly within the free area of the screen that holds
// its top left corner, or else the screen it overlaps most. A size and place
// remembered at another scale factor or on a larger screen fit again.
QRect FitOnAScreen(const QRect& area);

}  // namespace snapsift
