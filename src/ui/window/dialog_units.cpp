// SPDX-License-Identifier: MIT
#include "ui/window/dialog_units.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace snapsift {

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // The labels are mostly full-width characters, one em each: the layout's
    // widths hold them when a horizontal unit is at least a sixth of an em.
    // A vertical unit is at least a sixth of an em too, so a one-line control
    // (8 units) holds a Gothic line with its check-box indicator even in a
    // face with tight line spacing; and at least an eighth of the line as
    // text is laid out, whose height is not rounded down.
    const int em = QFontInfo(font).pixelSize();
    baseWidth_ = std::max({1, (letters / 26 + 1) / 2, (em * 2 + 2) / 3});
    const int lineHeight = static_cast<int>(std::ceil(QFontMetricsF(font).height()));
    baseHeight_ = std::max({1, lineHeight, (em * 4 + 2) / 3});
}

int DialogUnits::X(int units) const
{
    return (units * baseWidth_ + 2) / 4;
}

int DialogUnits::Y(int units) const
{
    return (units * baseHeight_ + 4) / 8;
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const
{
    return QRect(X(x), Y(y), X(width), Y(height));
}

QFont DialogFont(const QString& family)
{
    QFont font;
    if (!family.isEmpty())
        font.setFamily(family);
    else
        font.setFamilies(QStringList{QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"),
                                     QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic"),
                                     QStringLiteral("Sans Serif")});
    font.setPointSize(9);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

}  // namespace snapsift
