// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>
#include <QRect>

namespace snapsift {

// Converts dialog units to pixels for a font, by the classic rule: one
// horizontal unit is a quarter of the average width of the letters A-Z and
// a-z, one vertical unit an eighth of the font's height. For Japanese faces
// the units are never smaller than a sixth of the font's em (its pixel size)
// across and down, so that texts of full-width characters and check-box
// indicators fit the controls the layout gives them.
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
// exists and the closest face fontconfig offers otherwise; `family` instead
// when one is given.
QFont DialogFont(const QString& family = {});

}  // namespace snapsift
