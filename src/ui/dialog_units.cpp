#include "ui/dialog_units.h"

#include <QFontMetrics>
#include <QStringList>

#include <algorithm>

namespace snapsift {

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseWidth_ = std::max(1, (letters / 26 + 1) / 2);
    baseHeight_ = std::max(1, metrics.height());
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

QFont DialogFont()
{
    QFont font;
    font.setFamilies(QStringList{QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"),
                      QStringLiteral("VL PGothic"), QStringLiteral("Sans Serif")});
    font.setPointSize(9);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

} // namespace snapsift
