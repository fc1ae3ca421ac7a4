#pragma once

#include <QFont>
#include <QRect>

namespace snapsift {

// Converts dialog units to pixels for a font, by the classic rule: one
// horizontal unit is a quarter of the average width of the letters A-Z and
// a-z, one vertical unit an eighth of the font's height.
class DialogUnits final {
public:
    explicit DialogUnits(const QFont& font);
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;

private:
    int baseWidth_;
    int baseHeight_;
};

// The dialogs' font: a Japanese Gothic face at 9 points, "MS PGothic" where it
// exists and the closest face fontconfig offers otherwise.
QFont DialogFont();

} // namespace snapsift
