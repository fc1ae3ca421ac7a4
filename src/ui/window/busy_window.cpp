// SPDX-License-Identifier: MIT
#include "ui/window/busy_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
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

}  // namespace

BusyWindow::BusyWindow(QWidget* window, std::function<void()> onEscape)
    : window_(window), onEscape_(std::move(onEscape))
{
    QCoreApplication::instance()->installEventFilter(this);
}

void BusyWindow::TakeRequests(QWidget* quit, std::function<void(Request)> handler)
{
    quit_ = quit;
    handler_ = std::move(handler);
}

bool BusyWindow::IsOverQuitButton(QPointF windowPos) const
{
    const QWidget* under = window_->childAt(windowPos.toPoint());
    return under != nullptr && (under == quit_ || quit_->isAncestorOf(under));
}

bool BusyWindow::IsQuitButtonPressed(QObject* watched, QEvent* event)
{
    if (quit_ == nullptr || !quit_->isEnabled())
        return false;
    // A person's click comes from the window system to the window's own
    // surface, before Qt hands it to the widget under the pointer; thrown
    // away there, it would never reach the button. Such a click counts when
    // it is pressed and released over the button.
    const bool onSurface = window_->windowHandle() != nullptr && watched == window_->windowHandle();
    if (onSurface && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick ||
                      event->type() == QEvent::MouseButtonRelease)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        const bool over = IsOverQuitButton(mouse->position());
        if (event->type() != QEvent::MouseButtonRelease) {
            pressedOnQuit_ = over;
            return false;
        }
        const bool clicked = pressedOnQuit_ && over;
        pressedOnQuit_ = false;
        return clicked;
    }
    // Keys, too, come to the surface first: the quit button takes them when it has the focus.
    if (watched != quit_ && !(onSurface && event->type() == QEvent::KeyPress && quit_->hasFocus()))
        return false;
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        return mouse->button() == Qt::LeftButton && quit_->rect().contains(mouse->position().toPoint());
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
    }
    return false;
}

void BusyWindow::Quit()
{
    // The handler closes the window, which sends a close event of its own:
    // that one goes through.
    quitting_ = true;
    const auto handler = handler_;
    handler(Request::Quit);
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
    if (handler_ && !quitting_ && event->type() == QEvent::Close &&
        (watched == window_ || (window_->windowHandle() != nullptr && watched == window_->windowHandle()))) {
        // The close box: the window closes once the search is let go.
        event->ignore();
        Quit();
        return true;
    }
    if (!IsUserInput(event->type()))
        return false;
    bool ours = false;
    if (watched->isWidgetType())
        ours = static_cast<QWidget*>(watched)->window() == window_;
    else if (watched->isWindowType())
        ours = static_cast<QWindow*>(watched) == window_->windowHandle();
    if (!ours)
        return false;
    if (handler_) {
        if (IsQuitButtonPressed(watched, event)) {
            Quit();
        } else if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
                   static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
            handler_(Request::StopSearch);
        }
    } else if (onEscape_ && event->type() == QEvent::KeyPress &&
               static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        onEscape_();
    }
    // An accepted override keeps a key from reaching the window's shortcuts.
    if (event->type() == QEvent::ShortcutOverride)
        event->accept();
    return true;
}

}  // namespace snapsift
