// SPDX-License-Identifier: MIT
#include "ui/window/window_geometry.h"

#include "ui/window/settings_file.h"

#include <QAbstractScrollArea>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSettings>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace snapsift {

void EdgeLayout::Add(QWidget* widget, const QRect& base, int follow)
{
    widget->setGeometry(base);
    for (Entry& e : entries_) {
        if (e.widget == widget) {
            e = {widget, base, follow};
            return;
        }
    }
    entries_.push_back({widget, base, follow});
}

namespace {

// The smallest q for which `scale` times q is a whole number (a scale of 1.5
// gives 2, 1.25 gives 4); 1 when there is no small one.
int ScaleDenominator(double scale)
{
    for (int q = 1; q <= 8; ++q) {
        if (std::abs(scale * q - std::round(scale * q)) < 1e-6)
            return q;
    }
    return 1;
}

int FloorTo(int value, int q)
{
    return (value >= 0 ? value : value - q + 1) / q * q;
}

}  // namespace

QRect AlignInsideToPixels(const QRect& area, int frame, double scale)
{
    // At a fractional scale a framed control's inner edge may fall inside a
    // screen pixel; its contents, rounded outwards, then cover the frame's
    // right and bottom lines. Moving the inner edges onto whole pixels (the
    // area shrinks by less than a pixel on each side) keeps the frame whole.
    const int q = ScaleDenominator(scale);
    if (q == 1)
        return area;
    const int left = FloorTo(area.left() + frame + q - 1, q) - frame;
    const int top = FloorTo(area.top() + frame + q - 1, q) - frame;
    const int right = FloorTo(area.left() + area.width() - frame, q) + frame;
    const int bottom = FloorTo(area.top() + area.height() - frame, q) + frame;
    if (right <= left || bottom <= top)
        return area;
    return QRect(left, top, right - left, bottom - top);
}

void EdgeLayout::Apply(QSize base, QSize size) const
{
    const int dx = std::max(0, size.width() - base.width());
    const int dy = std::max(0, size.height() - base.height());
    for (const Entry& e : entries_) {
        QRect r = e.base;
        if (e.follow & kFollowRight)
            r.translate(dx, 0);
        if (e.follow & kFollowBottom)
            r.translate(0, dy);
        if (e.follow & kGrowWidth)
            r.setWidth(r.width() + dx);
        if (e.follow & kGrowHeight)
            r.setHeight(r.height() + dy);
        if (const auto* framed = qobject_cast<const QAbstractScrollArea*>(e.widget))
            r = AlignInsideToPixels(r, framed->frameWidth(), e.widget->devicePixelRatioF());
        e.widget->setGeometry(r);
    }
}

WindowMemory ReadWindowMemory()
{
    WindowMemory memory;
    const std::unique_ptr<QSettings> opened = OpenSettings();
    if (!opened)
        return memory;  // as at a first start
    QSettings& settings = *opened;
    settings.beginGroup(QStringLiteral("window"));
    const QVariant position = settings.value(QStringLiteral("position"));
    memory.hasPosition = position.canConvert<QPoint>();
    memory.position = position.toPoint();
    memory.size = settings.value(QStringLiteral("size")).toSize();
    memory.hasGeometry = memory.size.isValid() && !memory.size.isEmpty();
    memory.maximized = settings.value(QStringLiteral("maximized"), false).toBool();
    memory.ownNameWidth = settings.value(QStringLiteral("ownNameWidth"), false).toBool();
    for (const QString& width : settings.value(QStringLiteral("columns")).toString().split(QLatin1Char(','))) {
        bool ok = false;
        const int value = width.toInt(&ok);
        if (!ok || value <= 0 || value > 100000) {
            memory.columns.clear();
            break;
        }
        memory.columns.push_back(value);
    }
    return memory;
}

void WriteWindowMemory(const WindowMemory& memory)
{
    const std::unique_ptr<QSettings> opened = OpenSettings();
    if (!opened)
        return;
    QSettings& settings = *opened;
    settings.beginGroup(QStringLiteral("window"));
    if (memory.hasGeometry) {
        settings.setValue(QStringLiteral("size"), memory.size);
        if (memory.hasPosition)
            settings.setValue(QStringLiteral("position"), memory.position);
    }
    settings.setValue(QStringLiteral("maximized"), memory.maximized);
    settings.setValue(QStringLiteral("ownNameWidth"), memory.ownNameWidth);
    QStringList widths;
    for (int width : memory.columns)
        widths << QString::number(width);
    settings.setValue(QStringLiteral("columns"), widths.join(QLatin1Char(',')));
}

WindowMemory CurrentWindowMemory(const QWidget& window, const QHeaderView& header)
{
    WindowMemory memory;
    memory.maximized = window.isMaximized();
    // Maximised, the window fills the screen; the place to come back to is
    // the one it had before, its frame as wide as now.
    const QRect normal = memory.maximized ? window.normalGeometry() : window.geometry();
    memory.size = normal.size();
    memory.position = normal.topLeft() - (window.geometry().topLeft() - window.frameGeometry().topLeft());
    memory.hasGeometry = normal.isValid();
    memory.hasPosition = memory.hasGeometry;
    for (int column = 0; column < header.count(); ++column)
        memory.columns.push_back(header.sectionSize(column));
    return memory;
}

bool TopEdgeOnAScreen(const QRect& area)
{
    const QPoint left = area.topLeft();
    const QPoint right = area.topLeft() + QPoint(std::min(area.width(), 100) - 1, 0);
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect available = screen->availableGeometry();
        if (available.contains(left) && available.contains(right))
            return true;
    }
    return false;
}

QRect FitOnAScreen(const QRect& area)
{
    const QScreen* best = QGuiApplication::screenAt(area.topLeft());
    qint64 most = -1;
    for (const QScreen* screen : best ? QList<QScreen*>() : QGuiApplication::screens()) {
        const QRect overlap = screen->availableGeometry().intersected(area);
        const qint64 shared = overlap.isValid() ? qint64(overlap.width()) * overlap.height() : 0;
        if (shared > most) {
            most = shared;
            best = screen;
        }
    }
    if (!best)
        return area;
    const QRect room = best->availableGeometry();
    QRect fitted(area.topLeft(), area.size().boundedTo(room.size()));
    fitted.moveLeft(std::clamp(fitted.left(), room.left(), room.right() + 1 - fitted.width()));
    fitted.moveTop(std::clamp(fitted.top(), room.top(), room.bottom() + 1 - fitted.height()));
    return fitted;
}

}  // namespace snapsift
