#include "ui/window/busy_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QWidget>
#include <QWindow>

namespace snapsift {
namespace {

bool IsUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

} // namespace

BusyWindow::BusyWindow(QWidget* window, std::function<void()> onEscape)
    : window_(window), onEscape_(std::move(onEscape))
{
    QCoreApplication::instance()->installEventFilter(this);
}

BusyWindow::~BusyWindow()
{
    // Input that waited for the command, in Qt's queues or the window
    // system's, arrives now and is thrown away here.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::instance()->removeEventFilter(this);
}

bool BusyWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (!IsUserInput(event->type()))
        return false;
    bool ours = false;
    if (watched->isWidgetType())
        ours = static_cast<QWidget*>(watched)->window() == window_;
    else if (watched->isWindowType())
        ours = static_cast<QWindow*>(watched) == window_->windowHandle();
    if (!ours)
        return false;
    if (onEscape_ && event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
        onEscape_();
    // An accepted override keeps a key from reaching the window's shortcuts.
    if (event->type() == QEvent::ShortcutOverride)
        event->accept();
    return true;
}

} // namespace snapsift
